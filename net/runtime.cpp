#include "net/runtime.hpp"

#include <sys/prctl.h>

namespace mirravale::net {

Runtime::Runtime(int threads, std::string name) : work_(io_.get_executor()) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this, name] {
            // Linux keeps the first 15 bytes of a thread name.
            prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
            io_.run();
        });
    }
}

Runtime::~Runtime() {
    work_.reset();
    io_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
}

}  // namespace mirravale::net
