#include "SerialLineSettings.h"

namespace serial_line {

CommTimeoutValues commTimeouts(std::uint32_t readConstantMs) {
    return CommTimeoutValues{line::kInterByteGapMs, line::kReadMsPerByte, readConstantMs, line::kWriteMsPerByte,
                             line::kWriteConstantMs};
}

LineControlValues lineControl(std::uint32_t rate) {
    LineControlValues v{};
    v.baudRate = rate;
    v.byteSize = 8;
    v.parity = 0;
    v.stopBits = 0;
    v.outxCtsFlow = v.outxDsrFlow = v.dsrSensitivity = v.outX = v.inX = false;
    v.txContinueOnXoff = true;
    v.dtrOn = false;
    v.rtsOn = true;
    v.xonChar = 0x11;    // DC1
    v.xoffChar = 0x13;   // DC3
    return v;
}

}  // namespace serial_line
