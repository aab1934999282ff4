#include "platform/RunLoop.h"

namespace platform {

void releaseOnNextTurn(std::shared_ptr<const void> object) {
    if (!object) return;
    RunLoop::main().keepAliveUntilNextTurn(std::const_pointer_cast<void>(std::move(object)));
}

}  // namespace platform
