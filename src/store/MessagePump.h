#pragma once

namespace kelvo {

// Keeps the windows painted in the middle of a long loop (the load, the
// save, the search, the exports): the loop calls pump() once per node or
// row. The windows implement it by processing pending events without user
// input, so no command can change the tree or a result list meanwhile, and
// throttle it themselves, so it is cheap to call often. Work without any
// window passes NoMessagePump().
class MessagePump
{
public:
    virtual ~MessagePump() = default;

    virtual void pump() = 0;
};

// A shared pump that does nothing.
MessagePump &NoMessagePump();

} // namespace kelvo
