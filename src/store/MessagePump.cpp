#include "MessagePump.h"

namespace kelvo {

namespace {

class SilentPump final : public MessagePump
{
public:
    void pump() override {}
};

} // namespace

MessagePump &NoMessagePump()
{
    static SilentPump none;
    return none;
}

} // namespace kelvo
