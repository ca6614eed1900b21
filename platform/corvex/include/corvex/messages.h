#pragma once

#include <functional>
#include <string>

namespace corvex {

// Where the framework's and the plants' lines for people go (a refused
// setting, an input held at its last finite value): standard output unless
// the program chooses otherwise. varnok-batch, whose standard output is CSV,
// sends them to standard error.
using MessageSink = std::function<void(const std::string& line)>;

// An empty sink means standard output again. Safe from any thread; lines
// are passed on one at a time.
void set_message_sink(MessageSink sink);

// One line, without its newline.
void report(const std::string& line);

}  // namespace corvex
