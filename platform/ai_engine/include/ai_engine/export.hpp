// Marks the engine library's public symbols; everything else is built hidden.
#pragma once

#define CORVANTA_AI_ENGINE_EXPORT __attribute__((visibility("default")))
