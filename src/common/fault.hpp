// Internal faults: conditions that are bugs or resource failures rather than
// bad input (a violated length assertion, a result the interpreter could not
// build, a worker pool that could not start). They unwind as the C++
// exception `Fault` and are caught once, by the frame around each Python
// call, which raises them as the module's internal-fault exception.
#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>

namespace caldrith {

class Fault : public std::exception {
public:
    explicit Fault(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the diagnostic (message and source position) to standard error and
// throws the fault.
[[noreturn]] void raise_fault(std::string message,
                              std::source_location where = std::source_location::current());

// Throws a fault that was already reported elsewhere, without a diagnostic.
[[noreturn]] void resume_fault(std::string message);

// The equality assertion of two counts: a fault whose message is the three
// lines "assertion `left == right` failed", "  left: {left}", " right: {right}".
void assert_equal_counts(std::size_t left, std::size_t right,
                         std::source_location where = std::source_location::current());

}  // namespace caldrith
