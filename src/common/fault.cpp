#include "common/fault.hpp"

#include <cstdio>

namespace caldrith {

void raise_fault(std::string message, std::source_location where) {
    std::fprintf(stderr, "caldrith: internal fault at %s:%u:%u:\n%s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 message.c_str());
    throw Fault(std::move(message));
}

void resume_fault(std::string message) { throw Fault(std::move(message)); }

void assert_equal_counts(std::size_t left, std::size_t right, std::source_location where) {
    if (left == right) {
        return;
    }
    raise_fault("assertion `left == right` failed\n  left: " + std::to_string(left) +
                    "\n right: " + std::to_string(right),
                where);
}

}  // namespace caldrith
