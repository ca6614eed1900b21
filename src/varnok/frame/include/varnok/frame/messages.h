#pragma once

#include <functional>
#include <string>

namespace varnok::frame {

// Where the frame's lines for people go (a refused setting, for one):
// standard output unless the program chooses otherwise. varnok-batch, whose
// standard output is CSV, sends them to standard error.
using MessageSink = std::function<void(const std::string& line)>;

// An empty sink means standard output again. Safe from any thread; lines
// are passed on one at a time.
void set_message_sink(MessageSink sink);

// One line, without its newline.
void report(const std::string& line);

}  // namespace varnok::frame
