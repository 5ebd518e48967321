#include "core/kick.hpp"

namespace mirravale::core {

KickSender::~KickSender() {
    if (!sent_) {
        channel_->close();
    }
}

void KickSender::send(wire::GoodbyeReason reason) {
    if (!sent_) {
        sent_ = true;
        channel_->try_send(asio::error_code{}, reason);
    }
}

}  // namespace mirravale::core
