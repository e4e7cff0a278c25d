#include "pool/pool_build_error.hpp"

#include <system_error>

namespace caldrith {

std::string PoolBuildError::describe() const {
    std::string kind_text;
    switch (kind) {
        case Kind::GlobalPoolAlreadyInitialized:
            kind_text = "GlobalPoolAlreadyInitialized";
            break;
        case Kind::IOError:
            kind_text = "IOError(Os { code: " + std::to_string(os_error) + ", message: \"" +
                        std::generic_category().message(os_error) + "\" })";
            break;
    }
    return "ThreadPoolBuildError { kind: " + kind_text + " }";
}

}  // namespace caldrith
