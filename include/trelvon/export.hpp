// Marks the symbols libtrelvon exports; the library is otherwise built with hidden visibility.
#pragma once

#define TRELVON_EXPORT __attribute__((visibility("default")))
