#pragma once
// Sends the trace stream to a string for the life of the object.
#include <sstream>
#include <string>
#include <vector>

#include "Trace.h"

class TraceCapture {
public:
    TraceCapture() { setTraceStream(&out_); }
    ~TraceCapture() { setTraceStream(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string text() const { return out_.str(); }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }
    void clear() { out_.str(std::string()); }

private:
    std::ostringstream out_;
};
