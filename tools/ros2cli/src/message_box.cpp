#include "ros2cli/message_box.hpp"

#include <stdexcept>

namespace ros2cli {

MessageBox::MessageBox(MessageType type) : type_{std::move(type)} {
  if (type_.members == nullptr) {
    throw std::invalid_argument("MessageBox needs a type with a description");
  }
  const std::size_t blocks =
      (type_.members->size_of_ + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  storage_.reset(new std::max_align_t[blocks == 0 ? 1 : blocks]);
  type_.members->init_function(storage_.get(), rosidl_runtime_cpp::MessageInitialization::ALL);
}

MessageBox::~MessageBox() {
  type_.members->fini_function(storage_.get());
}

std::shared_ptr<void> makeMessage(const MessageType& type) {
  auto box = std::make_shared<MessageBox>(type);
  void* object = box->get();
  return std::shared_ptr<void>(box, object);
}

}  // namespace ros2cli
