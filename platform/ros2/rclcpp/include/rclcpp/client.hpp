// Service clients.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <rmw/types.h>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/detail/service_endpoint.hpp"
#include "rclcpp/executable.hpp"
#include "ros2_core/service_graph.hpp"
#include "ros2_core/service_queue.hpp"

namespace rclcpp {
namespace detail {

// A future and the sequence number of the request it waits for. Forwards the future's
// waiting API; move-only, like std::future.
template <typename FutureT>
struct FutureAndRequestId {
  FutureT future;
  int64_t request_id;

  FutureAndRequestId(FutureT impl, int64_t req_id) : future(std::move(impl)), request_id(req_id) {}

  operator FutureT&() { return this->future; }

  auto get() { return this->future.get(); }
  bool valid() const noexcept { return this->future.valid(); }
  void wait() const { return this->future.wait(); }
  template <class Rep, class Period>
  std::future_status wait_for(const std::chrono::duration<Rep, Period>& timeout_duration) const {
    return this->future.wait_for(timeout_duration);
  }
  template <class Clock, class Duration>
  std::future_status wait_until(
      const std::chrono::time_point<Clock, Duration>& timeout_time) const {
    return this->future.wait_until(timeout_time);
  }

  FutureAndRequestId(FutureAndRequestId&& other) noexcept = default;
  FutureAndRequestId(const FutureAndRequestId& other) = delete;
  FutureAndRequestId& operator=(FutureAndRequestId&& other) noexcept = default;
  FutureAndRequestId& operator=(const FutureAndRequestId& other) = delete;
  ~FutureAndRequestId() = default;
};

}  // namespace detail

// The type-independent part of a client. Registers a reply queue with the service graph for
// its lifetime; each reply wakes the executor of the client's callback group, which completes
// the matching request. Requests are numbered from 1.
class ClientBase : public Executable {
 public:
  using SharedPtr = std::shared_ptr<ClientBase>;
  using WeakPtr = std::weak_ptr<ClientBase>;

  ClientBase(Context::SharedPtr context, const ros2_core::ServiceEndpoint& endpoint,
             CallbackGroup::SharedPtr group);
  ~ClientBase() override;
  ClientBase(const ClientBase&) = delete;
  ClientBase& operator=(const ClientBase&) = delete;

  // The fully resolved service name.
  const char* get_service_name() const { return endpoint_.service.c_str(); }

  // Whether a server of this service and type can be reached now.
  bool service_is_ready() const;

  // Blocks until a server can be reached, `timeout` passes (negative: no limit) or the context
  // shuts down. Returns true when a server is there.
  template <typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_service(
      std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1)) {
    return wait_for_service_nanoseconds(
        std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  bool take_ready(SteadyTime now, std::shared_ptr<const void>& work) override;

 protected:
  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout);
  // Hands `request` (an object of the Request type) to the graph as request `sequence_number`.
  // A request nobody serves is lost, as it is on a middleware.
  void send_request_erased(int64_t sequence_number, std::shared_ptr<const void> request);
  int64_t next_sequence_number() { return next_sequence_number_++; }

 private:
  const Context::SharedPtr context_;
  const std::shared_ptr<ros2_core::ServiceGraph> graph_;
  const ros2_core::ServiceEndpoint endpoint_;
  const std::shared_ptr<ros2_core::ServiceQueue> replies_;
  ros2_core::ServiceGraph::EndpointId id_{0};
  std::atomic<int64_t> next_sequence_number_{1};
};

// A client of ServiceT. Create it with Node::create_client. A reply completes its request
// when the executor serving the client's callback group runs it: spin (for instance with
// spin_until_future_complete) while waiting on a future. Pending requests stay until answered,
// removed or pruned; a request whose server went away is never answered.
template <typename ServiceT>
class Client : public ClientBase {
 public:
  using SharedPtr = std::shared_ptr<Client>;
  using WeakPtr = std::weak_ptr<Client>;
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = typename ServiceT::Request::SharedPtr;
  using SharedResponse = typename ServiceT::Response::SharedPtr;
  using Promise = std::promise<SharedResponse>;
  using PromiseWithRequest = std::promise<std::pair<SharedRequest, SharedResponse>>;
  using SharedPromise = std::shared_ptr<Promise>;
  using SharedPromiseWithRequest = std::shared_ptr<PromiseWithRequest>;
  using Future = std::future<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using SharedFutureWithRequest = std::shared_future<std::pair<SharedRequest, SharedResponse>>;
  using CallbackType = std::function<void(SharedFuture)>;
  using CallbackWithRequestType = std::function<void(SharedFutureWithRequest)>;

  struct FutureAndRequestId : detail::FutureAndRequestId<std::future<SharedResponse>> {
    using detail::FutureAndRequestId<std::future<SharedResponse>>::FutureAndRequestId;
    SharedFuture future_share() noexcept { return this->future.share(); }
  };
  struct SharedFutureAndRequestId : detail::FutureAndRequestId<std::shared_future<SharedResponse>> {
    using detail::FutureAndRequestId<std::shared_future<SharedResponse>>::FutureAndRequestId;
  };
  struct SharedFutureWithRequestAndRequestId
      : detail::FutureAndRequestId<std::shared_future<std::pair<SharedRequest, SharedResponse>>> {
    using detail::FutureAndRequestId<
        std::shared_future<std::pair<SharedRequest, SharedResponse>>>::FutureAndRequestId;
  };

  Client(Context::SharedPtr context, const ros2_core::ServiceEndpoint& endpoint,
         CallbackGroup::SharedPtr group)
      : ClientBase(std::move(context), endpoint, std::move(group)) {}

  // The future completes when the reply has been executed.
  FutureAndRequestId async_send_request(SharedRequest request) {
    Promise promise;
    auto future = promise.get_future();
    const int64_t id = send(*request, std::move(promise));
    return FutureAndRequestId(std::move(future), id);
  }

  // `cb` runs in the executor with the completed future.
  template <typename CallbackT, typename std::enable_if_t<
                                    std::is_invocable<CallbackT&, SharedFuture>::value>* = nullptr>
  SharedFutureAndRequestId async_send_request(SharedRequest request, CallbackT&& cb) {
    Promise promise;
    auto shared_future = promise.get_future().share();
    const int64_t id = send(*request, std::make_tuple(CallbackType(std::forward<CallbackT>(cb)),
                                                      shared_future, std::move(promise)));
    return SharedFutureAndRequestId(std::move(shared_future), id);
  }

  // `cb` runs in the executor with a future of the request and its response.
  template <typename CallbackT, typename std::enable_if_t<std::is_invocable<
                                    CallbackT&, SharedFutureWithRequest>::value>* = nullptr>
  SharedFutureWithRequestAndRequestId async_send_request(SharedRequest request, CallbackT&& cb) {
    PromiseWithRequest promise;
    auto shared_future = promise.get_future().share();
    const int64_t id =
        send(*request, std::make_tuple(CallbackWithRequestType(std::forward<CallbackT>(cb)),
                                       request, shared_future, std::move(promise)));
    return SharedFutureWithRequestAndRequestId(std::move(shared_future), id);
  }

  // Forgets a pending request; its future then never completes. Returns false when it was not
  // pending.
  bool remove_pending_request(int64_t request_id) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    return pending_requests_.erase(request_id) != 0;
  }
  bool remove_pending_request(const FutureAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }
  bool remove_pending_request(const SharedFutureAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }
  bool remove_pending_request(const SharedFutureWithRequestAndRequestId& future) {
    return remove_pending_request(future.request_id);
  }

  // Forgets every pending request; returns how many there were.
  size_t prune_pending_requests() {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    const size_t count = pending_requests_.size();
    pending_requests_.clear();
    return count;
  }

  // Forgets the requests sent before `time_point`, listing their ids in `pruned_requests`.
  template <typename AllocatorT = std::allocator<int64_t>>
  size_t prune_requests_older_than(std::chrono::time_point<std::chrono::system_clock> time_point,
                                   std::vector<int64_t, AllocatorT>* pruned_requests = nullptr) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    size_t count = 0;
    for (auto it = pending_requests_.begin(); it != pending_requests_.end();) {
      if (it->second.first < time_point) {
        if (pruned_requests != nullptr) {
          pruned_requests->push_back(it->first);
        }
        it = pending_requests_.erase(it);
        ++count;
      } else {
        ++it;
      }
    }
    return count;
  }

  void execute(const std::shared_ptr<const void>& work) override {
    const auto& sample = *std::static_pointer_cast<const ros2_core::ServiceSample>(work);
    std::optional<CallbackInfoVariant> info;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      auto it = pending_requests_.find(sample.id.sequence_number);
      if (it == pending_requests_.end()) {
        return;  // removed, pruned, or answered twice
      }
      info = std::move(it->second.second);
      pending_requests_.erase(it);
    }
    auto response = std::make_shared<Response>(*static_cast<const Response*>(sample.message.get()));
    if (auto* promise = std::get_if<Promise>(&*info)) {
      promise->set_value(std::move(response));
    } else if (auto* with_future = std::get_if<CallbackTypeValueVariant>(&*info)) {
      std::get<2>(*with_future).set_value(std::move(response));
      std::get<0> (*with_future)(std::get<1>(*with_future));
    } else {
      auto& with_request = std::get<CallbackWithRequestTypeValueVariant>(*info);
      std::get<3>(with_request).set_value(std::make_pair(std::get<1>(with_request), response));
      std::get<0>(with_request)(std::get<2>(with_request));
    }
  }

 private:
  using CallbackTypeValueVariant = std::tuple<CallbackType, SharedFuture, Promise>;
  using CallbackWithRequestTypeValueVariant =
      std::tuple<CallbackWithRequestType, SharedRequest, SharedFutureWithRequest,
                 PromiseWithRequest>;
  using CallbackInfoVariant =
      std::variant<Promise, CallbackTypeValueVariant, CallbackWithRequestTypeValueVariant>;

  // Registers the request as pending before it leaves, so that no reply can overtake it.
  int64_t send(const Request& request, CallbackInfoVariant value) {
    // The server works on a snapshot: the caller may change its request afterwards.
    auto snapshot = std::make_shared<const Request>(request);
    int64_t id = 0;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      id = next_sequence_number();
      pending_requests_.emplace(id,
                                std::make_pair(std::chrono::system_clock::now(), std::move(value)));
    }
    send_request_erased(id, std::move(snapshot));
    return id;
  }

  std::mutex pending_mutex_;
  std::map<int64_t, std::pair<std::chrono::time_point<std::chrono::system_clock>,
                              CallbackInfoVariant>>
      pending_requests_;  // guarded by pending_mutex_
};

}  // namespace rclcpp
