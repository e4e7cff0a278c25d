#include "ld/xla_ffi.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/expected.hpp"
#include "ld/star_rows.hpp"
#include "xla/ffi/api/c_api.h"

namespace caldrith {
namespace {

// A float64 buffer of XLA's, row-major.
struct Buffer {
    double* data = nullptr;
    std::span<const std::int64_t> dims{};

    std::size_t size() const {
        return std::accumulate(dims.begin(), dims.end(), std::size_t{1},
                               [](std::size_t n, std::int64_t d) { return n * static_cast<std::size_t>(d); });
    }
};

// One call, decoded and checked.
struct Call {
    Buffer u, rho, coefficients, out;
    LawKind kind = LawKind::uniform;
    std::span<const double> radius{};
    std::size_t batch = 0;  // stars
    std::size_t n = 0;      // positions per star
    std::size_t m = 0;      // parameters of the law
};

Outcome<Buffer> float64_buffer(void* pointer, Message not_float64) {
    const auto* buffer = static_cast<const XLA_FFI_Buffer*>(pointer);
    if (buffer->dtype != XLA_FFI_DataType_F64) {
        return Unexpected{not_float64};
    }
    return Buffer{static_cast<double*>(buffer->data),
                  {buffer->dims, static_cast<std::size_t>(buffer->rank)}};
}

// The attributes kind and radius (XLA passes them sorted by name).
Outcome<Done> decode_attributes(const XLA_FFI_Attrs& attrs, Call& call) {
    bool have_kind = false;
    bool have_radius = false;
    for (std::int64_t i = 0; i < attrs.size; ++i) {
        const std::string_view name(attrs.names[i]->ptr, attrs.names[i]->len);
        if (name == "kind" && attrs.types[i] == XLA_FFI_AttrType_SCALAR) {
            const auto* scalar = static_cast<const XLA_FFI_Scalar*>(attrs.attrs[i]);
            if (scalar->dtype != XLA_FFI_DataType_S64) {
                return Unexpected{Message{"caldrith_ld: the attribute kind is not an int64"}};
            }
            const std::int64_t kind = *static_cast<const std::int64_t*>(scalar->value);
            // LawKind lists the kinds in the order of caldrith_ld's law classes.
            if (kind < 0 || kind > static_cast<std::int64_t>(LawKind::sampled)) {
                return Unexpected{Message{"caldrith_ld: no law of that kind"}};
            }
            call.kind = static_cast<LawKind>(kind);
            have_kind = true;
        } else if (name == "radius" && attrs.types[i] == XLA_FFI_AttrType_ARRAY) {
            const auto* array = static_cast<const XLA_FFI_Array*>(attrs.attrs[i]);
            if (array->dtype != XLA_FFI_DataType_F64) {
                return Unexpected{Message{"caldrith_ld: the attribute radius is not a float64 array"}};
            }
            call.radius = {static_cast<const double*>(array->data), array->size};
            have_radius = true;
        }
    }
    if (!have_kind || !have_radius) {
        return Unexpected{Message{"caldrith_ld: the attributes kind (int64) and radius (float64 array) are needed"}};
    }
    return Done{};
}

bool same_dims(std::span<const std::int64_t> a, std::span<const std::int64_t> b) {
    return std::ranges::equal(a, b);
}

// The shapes: rho B, u (*B, *S), coefficients (*B, m), out (*B, *S) or
// (*B, 3 + m, *S).
Outcome<Done> check_shapes(Call& call, bool derivatives) {
    const std::size_t r = call.rho.dims.size();
    const auto batch_dims = call.rho.dims;
    if (call.u.dims.size() < r || !same_dims(call.u.dims.first(r), batch_dims) ||
        call.coefficients.dims.size() != r + 1 || !same_dims(call.coefficients.dims.first(r), batch_dims)) {
        return Unexpected{Message{"caldrith_ld: u, rho and coefficients do not share their batch dimensions"}};
    }
    call.m = static_cast<std::size_t>(call.coefficients.dims[r]);
    const std::size_t expected = call.kind == LawKind::sampled ? call.radius.size() : coefficient_count(call.kind);
    if (call.m != expected || (call.kind == LawKind::sampled && call.m < 2)) {
        return Unexpected{Message{"caldrith_ld: not as many coefficients as the law has"}};
    }
    const auto positions = call.u.dims.subspan(r);
    std::vector<std::int64_t> out_dims(batch_dims.begin(), batch_dims.end());
    if (derivatives) {
        out_dims.push_back(static_cast<std::int64_t>(3 + call.m));
    }
    out_dims.insert(out_dims.end(), positions.begin(), positions.end());
    if (!same_dims(call.out.dims, out_dims)) {
        return Unexpected{Message{"caldrith_ld: the result's shape does not match the operands'"}};
    }
    call.batch = call.rho.size();
    call.n = Buffer{nullptr, positions}.size();
    return Done{};
}

Outcome<Call> decode(const XLA_FFI_CallFrame& frame, bool derivatives) {
    if (frame.args.size != 3 || frame.rets.size != 1 || frame.rets.types[0] != XLA_FFI_RetType_BUFFER ||
        std::any_of(frame.args.types, frame.args.types + 3, [](auto t) { return t != XLA_FFI_ArgType_BUFFER; })) {
        return Unexpected{Message{"caldrith_ld: three operands (u, rho, coefficients) and one result"}};
    }
    Call call;
    Buffer* operands[] = {&call.u, &call.rho, &call.coefficients};
    for (int i = 0; i < 3; ++i) {
        auto buffer = float64_buffer(frame.args.args[i], "caldrith_ld: the operands are not float64");
        if (!buffer) {
            return Unexpected{buffer.error()};
        }
        *operands[i] = *buffer;
    }
    auto out = float64_buffer(frame.rets.rets[0], "caldrith_ld: the result is not float64");
    if (!out) {
        return Unexpected{out.error()};
    }
    call.out = *out;
    if (auto attributes = decode_attributes(frame.attrs, call); !attributes) {
        return Unexpected{attributes.error()};
    }
    if (auto shapes = check_shapes(call, derivatives); !shapes) {
        return Unexpected{shapes.error()};
    }
    return call;
}

// Whether a star's values make a law the core can take, by the rules every
// call obeys (limb_darkening_law.hpp); the Python layer checks them before a
// call with concrete values, but a traced value can be anything.
bool computable(LawKind kind, std::span<const double> radius, std::span<const double> coefficients, double rho) {
    if (!(rho > 0.0 && rho <= LARGEST_RHO)) {
        return false;
    }
    return static_cast<bool>(kind == LawKind::sampled ? check_samples(radius, coefficients)
                                                      : check_law(kind, coefficients));
}

void run(const Call& call, bool derivatives) {
    const std::size_t rows = derivatives ? 3 + call.m : 1;
    const std::vector<double> radius(call.radius.begin(), call.radius.end());
    for (std::size_t b = 0; b < call.batch; ++b) {
        const std::span<const double> coefficients(call.coefficients.data + b * call.m, call.m);
        const double rho = call.rho.data[b];
        double* out = call.out.data + b * rows * call.n;
        if (!computable(call.kind, radius, coefficients, rho)) {
            std::fill(out, out + rows * call.n, std::numeric_limits<double>::quiet_NaN());
            continue;
        }
        const LimbDarkeningLaw law = call.kind == LawKind::sampled
                                         ? LimbDarkeningLaw(radius, {coefficients.begin(), coefficients.end()})
                                         : LimbDarkeningLaw(call.kind, coefficients);
        const LimbDarkeningLaw* const laws[] = {&law};
        const std::vector<StarColumns> columns = star_rows(out, call.n, laws, derivatives);
        compute_star_rows({call.u.data + b * call.n, call.n}, rho, laws, columns);
    }
}

XLA_FFI_Error* error(const XLA_FFI_Api* api, XLA_FFI_Error_Code code, const char* message) {
    XLA_FFI_Error_Create_Args args{XLA_FFI_Error_Create_Args_STRUCT_SIZE, nullptr, message, code};
    return api->XLA_FFI_Error_Create(&args);
}

// Tells XLA which version of the FFI the handler was built against.
XLA_FFI_Error* report_metadata(XLA_FFI_CallFrame* frame) {
    auto* extension = reinterpret_cast<XLA_FFI_Metadata_Extension*>(frame->extension_start);
    if (extension->metadata->struct_size < XLA_FFI_Metadata_STRUCT_SIZE) {
        return error(frame->api, XLA_FFI_Error_Code_FAILED_PRECONDITION,
                     "caldrith_ld: this XLA's FFI is older than the one caldrith_ld was built against");
    }
    extension->metadata->api_version =
        XLA_FFI_Api_Version{XLA_FFI_Api_Version_STRUCT_SIZE, nullptr, XLA_FFI_API_MAJOR, XLA_FFI_API_MINOR};
    extension->metadata->traits = 0;
    return nullptr;
}

template <bool Derivatives>
XLA_FFI_Error* handle(XLA_FFI_CallFrame* frame) noexcept {
    if (frame->extension_start != nullptr && frame->extension_start->type == XLA_FFI_Extension_Metadata) {
        return report_metadata(frame);
    }
    if (frame->stage != XLA_FFI_ExecutionStage_EXECUTE) {
        return nullptr;
    }
    auto call = decode(*frame, Derivatives);
    if (!call) {
        return error(frame->api, XLA_FFI_Error_Code_INVALID_ARGUMENT, call.error());
    }
    try {
        run(*call, Derivatives);
    } catch (const std::exception& fault) {
        return error(frame->api, XLA_FFI_Error_Code_INTERNAL, (std::string("caldrith_ld: ") + fault.what()).c_str());
    } catch (...) {
        return error(frame->api, XLA_FFI_Error_Code_INTERNAL, "caldrith_ld: an unknown internal fault");
    }
    return nullptr;
}

}  // namespace

PyResult<OwnedRef> ld_xla_ffi_targets() {
    struct Target {
        const char* name;
        XLA_FFI_Handler* handler;
    };
    const Target targets[] = {{"caldrith_ld_magnification", &handle<false>}, {"caldrith_ld_gradient", &handle<true>}};
    OwnedRef dictionary = OwnedRef::steal(PyDict_New());
    if (!dictionary) {
        return Unexpected{fetch_error()};
    }
    for (const Target& target : targets) {
        const OwnedRef capsule = OwnedRef::steal(PyCapsule_New(reinterpret_cast<void*>(target.handler), nullptr, nullptr));
        if (!capsule || PyDict_SetItemString(dictionary.get(), target.name, capsule.get()) < 0) {
            return Unexpected{fetch_error()};
        }
    }
    return dictionary;
}

}  // namespace caldrith
