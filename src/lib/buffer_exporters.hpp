// The types whose buffers the sequence rule reads straight from memory:
// numpy.ndarray, array.array and memoryview, each exactly. A subclass may
// change how its items are iterated or converted (a quantity with units, a
// masked array), so it is not one of them.
#pragma once

#include "lib/python.hpp"

namespace caldrith {

enum class BufferExporter { other, ndarray, array, memoryview };

// Which of the three types `object` is exactly. numpy is never imported:
// an ndarray can only exist once numpy has been loaded by someone else.
// Never leaves an exception pending.
BufferExporter exact_buffer_exporter(PyObject* object);

}  // namespace caldrith
