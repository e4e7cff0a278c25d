// Why a worker pool could not be built.
#pragma once

#include <string>

namespace caldrith {

struct PoolBuildError {
    enum class Kind {
        GlobalPoolAlreadyInitialized,  // a build of the process-wide pool was already tried
        IOError,                       // the operating system refused a worker thread
    };

    Kind kind;
    int os_error = 0;  // the errno value of an IOError

    // "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }", or
    // "ThreadPoolBuildError { kind: IOError(Os { code: 11, message:
    // \"Resource temporarily unavailable\" }) }".
    std::string describe() const;
};

}  // namespace caldrith
