// Service servers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <rmw/types.h>

#include "rclcpp/any_service_callback.hpp"
#include "rclcpp/callback_group.hpp"
#include "rclcpp/detail/service_endpoint.hpp"
#include "rclcpp/executable.hpp"
#include "ros2_core/service_graph.hpp"
#include "ros2_core/service_queue.hpp"

namespace rclcpp {

// The type-independent part of a server. Registers a request queue of the QoS depth with the
// service graph for its lifetime; each request wakes the executor of the server's callback
// group, which runs the callback and sends the reply. Requests still queued when the server
// is destroyed are never answered.
class ServiceBase : public Executable {
 public:
  using SharedPtr = std::shared_ptr<ServiceBase>;
  using WeakPtr = std::weak_ptr<ServiceBase>;

  ServiceBase(std::shared_ptr<ros2_core::ServiceGraph> graph,
              const ros2_core::ServiceEndpoint& endpoint, CallbackGroup::SharedPtr group);
  ~ServiceBase() override;
  ServiceBase(const ServiceBase&) = delete;
  ServiceBase& operator=(const ServiceBase&) = delete;

  // The fully resolved service name.
  const char* get_service_name() const { return endpoint_.service.c_str(); }
  // Requests waiting to be executed.
  size_t queued_request_count() const { return requests_->size(); }

  bool take_ready(SteadyTime now, std::shared_ptr<const void>& work) override;

 protected:
  // Sends `response` to the client of `request_id`; a reply to a client that is gone is lost.
  void send_reply(const rmw_request_id_t& request_id, std::shared_ptr<const void> response);

 private:
  const std::shared_ptr<ros2_core::ServiceGraph> graph_;
  const ros2_core::ServiceEndpoint endpoint_;
  const std::shared_ptr<ros2_core::ServiceQueue> requests_;
  ros2_core::ServiceGraph::EndpointId id_{0};
};

// A server of ServiceT. Create it with Node::create_service. The callback gets its own copy of
// each request; the reply is a copy of the response it fills.
template <typename ServiceT>
class Service : public ServiceBase, public std::enable_shared_from_this<Service<ServiceT>> {
 public:
  using SharedPtr = std::shared_ptr<Service>;
  using ConstSharedPtr = std::shared_ptr<const Service>;
  using WeakPtr = std::weak_ptr<Service>;
  using CallbackType = std::function<void(const std::shared_ptr<typename ServiceT::Request>,
                                          std::shared_ptr<typename ServiceT::Response>)>;
  using CallbackWithHeaderType = std::function<void(
      const std::shared_ptr<rmw_request_id_t>, const std::shared_ptr<typename ServiceT::Request>,
      std::shared_ptr<typename ServiceT::Response>)>;

  Service(std::shared_ptr<ros2_core::ServiceGraph> graph,
          const ros2_core::ServiceEndpoint& endpoint, CallbackGroup::SharedPtr group,
          AnyServiceCallback<ServiceT> any_callback)
      : ServiceBase(std::move(graph), endpoint, std::move(group)),
        any_callback_(std::move(any_callback)) {}

  // Answers the request `req_id`; for callbacks that answer later.
  void send_response(rmw_request_id_t& req_id, typename ServiceT::Response& response) {
    send_reply(req_id, std::make_shared<const typename ServiceT::Response>(response));
  }

  void execute(const std::shared_ptr<const void>& work) override {
    const auto& sample = *std::static_pointer_cast<const ros2_core::ServiceSample>(work);
    auto request = std::make_shared<typename ServiceT::Request>(
        *static_cast<const typename ServiceT::Request*>(sample.message.get()));
    auto header = std::make_shared<rmw_request_id_t>(detail::to_rmw_request_id(sample.id));
    auto response = any_callback_.dispatch(this->shared_from_this(), header, std::move(request));
    if (response != nullptr) {
      send_response(*header, *response);
    }
  }

 private:
  AnyServiceCallback<ServiceT> any_callback_;
};

}  // namespace rclcpp
