// The callback shapes a service accepts, behind one dispatch call.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

#include <rmw/types.h>

namespace rclcpp {

template <typename ServiceT>
class Service;

// Holds one of rclcpp's service callback shapes:
//   (request, response)                    the response is sent when the callback returns;
//   (request_header, request, response)    the same, with the request's id;
//   (request_header, request)              the callback answers later with send_response;
//   (service, request_header, request)     the same, handed the service to answer through.
// Requests and responses are std::shared_ptr of the service's Request and Response.
template <typename ServiceT>
class AnyServiceCallback {
 public:
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedPtrCallback =
      std::function<void(std::shared_ptr<Request>, std::shared_ptr<Response>)>;
  using SharedPtrWithRequestHeaderCallback = std::function<void(
      std::shared_ptr<rmw_request_id_t>, std::shared_ptr<Request>, std::shared_ptr<Response>)>;
  using SharedPtrDeferResponseCallback =
      std::function<void(std::shared_ptr<rmw_request_id_t>, std::shared_ptr<Request>)>;
  using SharedPtrDeferResponseCallbackWithServiceHandle =
      std::function<void(std::shared_ptr<rclcpp::Service<ServiceT>>,
                         std::shared_ptr<rmw_request_id_t>, std::shared_ptr<Request>)>;

  AnyServiceCallback() = default;

  template <typename CallbackT>
  void set(CallbackT&& callback) {
    using Callback = std::decay_t<CallbackT>;
    using Header = std::shared_ptr<rmw_request_id_t>;
    using Req = std::shared_ptr<Request>;
    using Res = std::shared_ptr<Response>;
    using Handle = std::shared_ptr<rclcpp::Service<ServiceT>>;
    if constexpr (std::is_invocable<Callback&, Req, Res>::value) {
      callback_ = SharedPtrCallback(std::forward<CallbackT>(callback));
    } else if constexpr (std::is_invocable<Callback&, Header, Req, Res>::value) {
      callback_ = SharedPtrWithRequestHeaderCallback(std::forward<CallbackT>(callback));
    } else if constexpr (std::is_invocable<Callback&, Header, Req>::value) {
      callback_ = SharedPtrDeferResponseCallback(std::forward<CallbackT>(callback));
    } else {
      static_assert(std::is_invocable<Callback&, Handle, Header, Req>::value,
                    "service callback must take (request, response), (request_header, request, "
                    "response), (request_header, request) or (service, request_header, request)");
      callback_ =
          SharedPtrDeferResponseCallbackWithServiceHandle(std::forward<CallbackT>(callback));
    }
  }

  // Runs the callback. Returns the response to send now, or nullptr when the callback answers
  // later itself. Throws std::runtime_error when no callback was set.
  std::shared_ptr<Response> dispatch(
      const std::shared_ptr<rclcpp::Service<ServiceT>>& service_handle,
      const std::shared_ptr<rmw_request_id_t>& request_header, std::shared_ptr<Request> request) {
    if (std::holds_alternative<std::monostate>(callback_)) {
      throw std::runtime_error("unexpected request dispatching for service without callback");
    }
    if (auto* cb = std::get_if<SharedPtrDeferResponseCallback>(&callback_)) {
      (*cb)(request_header, std::move(request));
      return nullptr;
    }
    if (auto* cb = std::get_if<SharedPtrDeferResponseCallbackWithServiceHandle>(&callback_)) {
      (*cb)(service_handle, request_header, std::move(request));
      return nullptr;
    }
    auto response = std::make_shared<Response>();
    if (auto* cb = std::get_if<SharedPtrCallback>(&callback_)) {
      (*cb)(std::move(request), response);
    } else {
      std::get<SharedPtrWithRequestHeaderCallback>(callback_)(request_header, std::move(request),
                                                              response);
    }
    return response;
  }

 private:
  std::variant<std::monostate, SharedPtrCallback, SharedPtrWithRequestHeaderCallback,
               SharedPtrDeferResponseCallback, SharedPtrDeferResponseCallbackWithServiceHandle>
      callback_;
};

}  // namespace rclcpp
