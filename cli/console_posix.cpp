#include "CliOutput.h"

// A POSIX terminal takes the UTF-8 bytes as they are; nothing to put back.
void prepareStandardStreams() {}
void restoreStandardStreams() {}

QuickEditOff::QuickEditOff() = default;
QuickEditOff::~QuickEditOff() = default;
