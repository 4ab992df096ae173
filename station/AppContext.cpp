#include "AppContext.h"

AppContext* AppContext::instance_ = nullptr;

void AppContext::create() {
    if (!instance_) instance_ = new AppContext();
}

AppContext* AppContext::instance() { return instance_; }
