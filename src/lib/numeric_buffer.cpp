#include "lib/numeric_buffer.hpp"

#include "lib/buffer_exporters.hpp"
#include "lib/buffer_items.hpp"
#include "lib/capacity.hpp"

namespace caldrith {
namespace {

// A buffer obtained from an exporter, released when it goes out of scope.
class HeldBuffer {
public:
    explicit HeldBuffer(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) == 0;
        if (!held_) {
            PyErr_Clear();
        }
    }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }

    explicit operator bool() const noexcept { return held_; }
    const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace

std::optional<std::vector<double>> read_numeric_buffer(PyObject* object) {
    const BufferExporter exporter = exact_buffer_exporter(object);
    if (exporter == BufferExporter::other) {
        return std::nullopt;
    }
    HeldBuffer buffer(object);
    if (!buffer) {
        return std::nullopt;
    }
    const Py_buffer& view = buffer.view();
    if (view.ndim != 1 || view.shape == nullptr || view.suboffsets != nullptr || view.format == nullptr) {
        return std::nullopt;
    }
    // A memoryview's iteration decodes native single-item formats only.
    const auto format = parse_item_format(view.format, exporter != BufferExporter::memoryview);
    if (!format || static_cast<Py_ssize_t>(format->size) != view.itemsize) {
        return std::nullopt;
    }
    std::vector<double> values;
    reserve_capacity(values, view.shape[0]);
    const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : view.itemsize;
    if (!read_items(*format, static_cast<const char*>(view.buf), view.shape[0], stride, values)) {
        return std::nullopt;
    }
    return values;
}

}  // namespace caldrith
