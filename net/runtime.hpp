#pragma once
// The network runtime: one io_context run by a fixed set of named worker threads, stopped and
// joined when the runtime is destroyed.

#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace mirravale::net {

inline constexpr int NET_THREADS = 3;

class Runtime {
  public:
    explicit Runtime(int threads = NET_THREADS, std::string name = "mirravale-net");
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    asio::io_context& context() { return io_; }

  private:
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::vector<std::thread> threads_;
};

}  // namespace mirravale::net
