// The extension module tessarline._tessarline.
//
// Every entry point follows one shape: bind the arguments, convert them, call
// one core operation, convert the result. No algorithm lives here. Sections:
//   1. the boundary (InternalFailure, C++ exceptions, core errors)
//   2. argument binding
//   3. argument and result conversion
//   4. class machinery (access counter, heap types)
//   5. SarfCodec, with the map file operations (its loaders and writers and
//      the module's map tools)
//   6. NormalizationConfig
//   7. module functions
//   8. module initialisation and the registration table
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvik/chars.hpp"
#include "talvik/codec.hpp"
#include "talvik/crypto.hpp"
#include "talvik/decoder.hpp"
#include "talvik/encoder.hpp"
#include "talvik/error.hpp"
#include "talvik/morpheme.hpp"
#include "talvik/normalize.hpp"
#include "talvik/utf8.hpp"

namespace {

constexpr const char* kVersion = "0.3.12";

// ===========================================================================
// 1. The boundary
// ===========================================================================

// Owned reference, released on scope exit.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) noexcept : p_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }
  [[nodiscard]] PyObject* get() const noexcept { return p_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

PyObject* g_internal_failure = nullptr;

constexpr const char* kInternalFailureDoc =
    "Raised when native code called from Python fails in a way that is not an\n"
    "ordinary error of its input (a broken invariant inside the extension).\n"
    "\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it\n"
    "normally propagates all the way up and ends the interpreter instead of\n"
    "being swallowed by a broad `except Exception`.";

// Raises InternalFailure (creating the class on first use). If even that
// fails there is no sound way to report anything, so the process stops.
void raise_internal_failure(const char* message) noexcept {
  if (g_internal_failure == nullptr) {
    g_internal_failure = PyErr_NewExceptionWithDoc("tessarline.InternalFailure", kInternalFailureDoc,
                                                   PyExc_BaseException, nullptr);
    if (g_internal_failure == nullptr) Py_FatalError("uncaught panic at ffi boundary: cannot create InternalFailure");
  }
  PyErr_SetString(g_internal_failure,
                  message != nullptr && *message != '\0' ? message : "native code failed without a message");
  if (!PyErr_Occurred()) Py_FatalError("uncaught panic at ffi boundary");
}

// Turns any C++ exception escaping a callable into InternalFailure.
template <class R, class F>
R guarded(R on_error, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    raise_internal_failure(e.what());
  } catch (...) {
    raise_internal_failure(nullptr);
  }
  return on_error;
}

// Raises `type` with the error's text as the only argument. OSError is always
// OSError itself: it is built from one argument, so it carries no errno.
std::nullptr_t raise_core_error(PyObject* type, const talvik::CoreError& error) {
  const std::string text = error.text();
  PyErr_SetObject(type, Ref(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))).get());
  return nullptr;
}

// Entry-point adapters: every function handed to CPython goes through one.
using FastImpl = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgsImpl = PyObject* (*)(PyObject*, PyObject*);

template <FastImpl F>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, args, nargs, kwnames); });
}

template <NoArgsImpl F>
PyObject* noargs_entry(PyObject* self, PyObject* unused) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, unused); });
}

template <FastImpl F>
constexpr PyMethodDef fast_method(const char* name, const char* doc, int extra_flags = 0) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fast_entry<F>)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}

template <NoArgsImpl F>
constexpr PyMethodDef noargs_method(const char* name, const char* doc) {
  return {name, &noargs_entry<F>, METH_NOARGS, doc};
}

// ===========================================================================
// 2. Argument binding
// ===========================================================================
//
// Every parameter is positional-or-keyword; the required ones come first.
// Binding fails with the interpreter's own wording, checking in this order:
// too many positionals, each keyword in the order passed, missing required.

struct Params {
  const char* display;                 // "normalize()", "SarfCodec.encode()"
  std::span<const char* const> names;  // in parameter order
  std::size_t required;
};

// Up to this many parameters per operation; bound values land in a fixed array.
constexpr std::size_t kMaxParams = 8;
using Bound = std::array<PyObject*, kMaxParams>;

std::size_t param_index(const Params& p, PyObject* name) {
  for (std::size_t i = 0; i < p.names.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, p.names[i]) == 0) return i;
  }
  return p.names.size();
}

bool fail_too_many_positional(const Params& p, Py_ssize_t given) {
  const char* was = given == 1 ? "was" : "were";
  if (p.required == p.names.size()) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", p.display, p.names.size(),
                 given, was);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given", p.display,
                 p.required, p.names.size(), given, was);
  }
  return false;
}

bool bind_keyword(const Params& p, PyObject* name, PyObject* value, Bound& out) {
  const std::size_t i = param_index(p, name);
  if (i == p.names.size()) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", p.display, name);
    return false;
  }
  if (out[i] != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", p.display, p.names[i]);
    return false;
  }
  out[i] = value;
  return true;
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
bool check_missing(const Params& p, const Bound& out) {
  std::string list;
  std::size_t count = 0;
  std::size_t missing[kMaxParams];
  for (std::size_t i = 0; i < p.required; ++i) {
    if (out[i] == nullptr) missing[count++] = i;
  }
  if (count == 0) return true;
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) list += count == 2 ? " and " : (k + 1 == count ? ", and " : ", ");
    list += '\'';
    list += p.names[missing[k]];
    list += '\'';
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", p.display, count,
               count == 1 ? "argument" : "arguments", list.c_str());
  return false;
}

// Vectorcall form: positionals, then the values of the keywords named in kwnames.
bool bind(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Bound& out) {
  out.fill(nullptr);
  if (static_cast<std::size_t>(nargs) > p.names.size()) return fail_too_many_positional(p, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!bind_keyword(p, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
    }
  }
  return check_missing(p, out);
}

// Tuple-and-dict form, for the constructors (tp_new).
bool bind(const Params& p, PyObject* args, PyObject* kwargs, Bound& out) {
  out.fill(nullptr);
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (static_cast<std::size_t>(nargs) > p.names.size()) return fail_too_many_positional(p, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (!bind_keyword(p, name, value, out)) return false;
    }
  }
  return check_missing(p, out);
}

// ===========================================================================
// 3. Conversion
// ===========================================================================
//
// Converters return false with a Python exception set. `convert` runs one in
// parameter order and gives an exact TypeError the "argument 'x': " prefix,
// chaining the original as __cause__; other exception classes pass unchanged.

void prefix_type_error(const char* name) {
  PyObject* raised = PyErr_GetRaisedException();
  if (raised == nullptr || Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(raised);
    return;
  }
  Ref original(raised);
  Ref message(PyObject_Str(original.get()));
  if (!message) return;
  Ref text(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
  if (!text) return;
  Ref wrapped(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!wrapped) return;
  PyException_SetCause(wrapped.get(), original.release());
  PyErr_SetRaisedException(wrapped.release());
}

template <class F>
bool convert(const char* name, F&& converter) {
  if (converter()) return true;
  prefix_type_error(name);
  return false;
}

bool type_mismatch(PyObject* o, const char* kind) {
  Ref qualname(PyType_GetQualName(Py_TYPE(o)));
  if (!qualname) return false;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(), kind);
  return false;
}

bool out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return false;
}

// A str's own storage: one fixed-width unit per character.
talvik::utf8::CodeUnits units_of(PyObject* str) {
  return {PyUnicode_DATA(str), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)),
          static_cast<std::uint8_t>(PyUnicode_KIND(str))};
}

// A str holding a surrogate has no UTF-8 form: raise the interpreter's own
// UnicodeEncodeError for it.
bool refuse_surrogates(PyObject* str) {
  Ref raises(PyUnicode_AsUTF8String(str));
  if (raises) PyErr_SetString(PyExc_UnicodeEncodeError, "surrogates not allowed");
  return false;
}

// text: a str (or subclass) as UTF-8. ASCII strs are viewed in place (their
// storage is UTF-8 already); the others are converted for the call alone, not
// into the UTF-8 copy that the interpreter would otherwise cache on the user's
// str for its whole life: a corpus of gigabytes must not double in memory
// because it passed through us. Not movable: the view may point into `owned`.
struct Text {
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  std::string_view view;
  std::string owned;
};

bool to_text(PyObject* o, Text& out) {
  if (!PyUnicode_Check(o)) return type_mismatch(o, "str");
  const talvik::utf8::CodeUnits units = units_of(o);
  if (PyUnicode_IS_ASCII(o)) {
    out.view = std::string_view(static_cast<const char*>(units.data), units.length);
    return true;
  }
  if (talvik::utf8::has_surrogate(units)) return refuse_surrogates(o);
  talvik::utf8::append_utf8(out.owned, units);
  out.view = out.owned;
  return true;
}

// one character: a str of exactly one code point.
bool to_char(PyObject* o, char32_t& out) {
  Text utf8;
  if (!to_text(o, utf8)) return false;
  if (PyUnicode_GET_LENGTH(o) != 1) {
    PyErr_SetString(PyExc_ValueError, "expected a string of length 1");
    return false;
  }
  out = static_cast<char32_t>(PyUnicode_READ_CHAR(o, 0));
  return true;
}

bool is_numpy_bool_type(PyTypeObject* type) {
  Ref name(PyType_GetName(type));
  if (!name) return (PyErr_Clear(), false);
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0) {
    return false;
  }
  Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) return (PyErr_Clear(), false);
  return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

// flag: exactly True or False, or a numpy boolean scalar through its truth slot.
// 0, 1 and None are refused: a flag is never guessed from another type.
bool to_flag(PyObject* o, bool& out) {
  if (o == Py_True || o == Py_False) {
    out = o == Py_True;
    return true;
  }
  PyTypeObject* type = Py_TYPE(o);
  if (!is_numpy_bool_type(type)) return type_mismatch(o, "bool");
  auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
  if (truth == nullptr) {
    Ref qualname(PyType_GetQualName(type));
    if (qualname) {
      PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion", qualname.get());
    }
    return false;
  }
  const int value = truth(o);
  if (value < 0) return false;
  out = value != 0;
  return true;
}

// count: a non-negative integer up to 2**64-1 (the interpreter's own errors).
bool to_count(PyObject* o, std::uint64_t& out) {
  Ref index(PyNumber_Index(o));
  if (!index) return false;
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

// An integer in [0, max]; beyond the signed 64-bit range the interpreter's OverflowError.
bool to_bounded(PyObject* o, long long max, long long& out) {
  Ref index(PyNumber_Index(o));
  if (!index) return false;
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) return false;
  if (value < 0 || value > max) return out_of_range();
  out = value;
  return true;
}

[[maybe_unused]] bool to_token_id(PyObject* o, std::uint32_t& out) {
  long long value = 0;
  if (!to_bounded(o, 0xFFFFFFFFLL, value)) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

[[maybe_unused]] bool to_byte(PyObject* o, std::uint8_t& out) {
  long long value = 0;
  if (!to_bounded(o, 0xFF, value)) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

// list: any sequence but str; items by iteration, in order. `size_hint` gets
// the sequence's length when it reports one (only to size a buffer).
template <class F>
bool for_each_item(PyObject* o, F&& item, std::size_t* size_hint = nullptr) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "a str cannot be taken as a list of items; pass a list or tuple");
    return false;
  }
  if (!PySequence_Check(o)) return type_mismatch(o, "Sequence");
  if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
    // Converters run no Python code, so the exact built-ins can be indexed directly.
    const bool is_list = PyList_CheckExact(o);
    const Py_ssize_t n = is_list ? PyList_GET_SIZE(o) : PyTuple_GET_SIZE(o);
    if (size_hint != nullptr) *size_hint = static_cast<std::size_t>(n);
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (!item(is_list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i))) return false;
    }
    return true;
  }
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0) {
    PyErr_Clear();
  } else if (size_hint != nullptr) {
    *size_hint = static_cast<std::size_t>(n);
  }
  Ref iterator(PyObject_GetIter(o));
  if (!iterator) return false;
  while (Ref next{PyIter_Next(iterator.get())}) {
    if (!item(next.get())) return false;
  }
  return !PyErr_Occurred();
}

// dict: a dict or subclass, read from its own storage (overrides are not called).
template <class F>
bool for_each_entry(PyObject* o, F&& entry) {
  if (!PyDict_Check(o)) return type_mismatch(o, "dict");
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(o, &pos, &key, &value)) {
    if (!entry(key, value)) return false;
  }
  return true;
}

// triple: a tuple (or subclass) of exactly three items.
[[maybe_unused]] bool to_triple(PyObject* o, std::array<PyObject*, 3>& out) {
  if (!PyTuple_Check(o)) return type_mismatch(o, "tuple");
  const Py_ssize_t n = PyTuple_GET_SIZE(o);
  if (n != 3) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 3, but got tuple of length %zd", n);
    return false;
  }
  for (Py_ssize_t i = 0; i < 3; ++i) out[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(o, i);
  return true;
}

// Results: a text result is decoded straight into a str of the narrowest width.
PyObject* str_result(const talvik::utf8::WideText& text) {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.length), static_cast<Py_UCS4>(text.max_class));
  if (str != nullptr) std::memcpy(PyUnicode_DATA(str), text.units.data(), text.units.size());
  return str;
}

PyObject* str_result(std::string_view utf8) {
  if (talvik::utf8::is_ascii(utf8)) {  // already in its final form: one copy
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(utf8.size()), 0x7F);
    if (str != nullptr) std::memcpy(PyUnicode_DATA(str), utf8.data(), utf8.size());
    return str;
  }
  return str_result(talvik::utf8::to_wide(utf8));
}

PyObject* bool_result(bool value) { return Py_NewRef(value ? Py_True : Py_False); }

// (normalized, decoded, is_consistent), from a single call's or a batch's result.
template <class Roundtrip>
PyObject* roundtrip_result(const Roundtrip& r) {
  Ref expected(str_result(r.expected));
  if (!expected) return nullptr;
  Ref decoded(str_result(r.decoded));
  if (!decoded) return nullptr;
  return PyTuple_Pack(3, expected.get(), decoded.get(), r.matches ? Py_True : Py_False);
}

// Shared conversions of the codec's arguments.
bool to_dict(PyObject* o) { return PyDict_Check(o) || type_mismatch(o, "dict"); }

// The entries of a morf_map dict. They are converted after binding, so a bad
// key or value raises its TypeError without the argument prefix.
bool to_morpheme_map(PyObject* dict, talvik::MorphemeMap& out) {
  out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
  return for_each_entry(dict, [&](PyObject* key, PyObject* value) {
    Text k, v;
    if (!to_text(key, k) || !to_text(value, v)) return false;
    out.insert(k.owned.empty() ? std::string(k.view) : std::move(k.owned),
               v.owned.empty() ? std::string(v.view) : std::move(v.owned));
    return true;
  });
}

// A level name: "light", "aggressive", anything else medium; omitted means medium.
bool to_level(PyObject* o, talvik::NormalizationLevel& out) {
  if (o == nullptr) {
    out = talvik::NormalizationLevel::Medium;
    return true;
  }
  Text name;
  if (!to_text(o, name)) return false;
  out = talvik::parse_level(name.view);
  return true;
}

// ===========================================================================
// 4. Class machinery
// ===========================================================================
//
// Each instance carries an access counter: 0 free, n > 0 shared holders, -1
// held exclusively. It is only touched with the interpreter lock held.

struct Borrowable {
  PyObject_HEAD
  Py_ssize_t access;
};

// RAII access to an instance for the duration of one call.
class Access {
 public:
  Access() = default;
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  ~Access() {
    if (counter_ == nullptr) return;
    if (*counter_ == -1) {
      *counter_ = 0;
    } else {
      --*counter_;
    }
  }

  [[nodiscard]] bool shared(PyObject* self) {
    Py_ssize_t& c = reinterpret_cast<Borrowable*>(self)->access;
    if (c == -1) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
    ++c;
    counter_ = &c;
    return true;
  }

  [[nodiscard]] bool exclusive(PyObject* self) {
    Py_ssize_t& c = reinterpret_cast<Borrowable*>(self)->access;
    if (c != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return false;
    }
    c = -1;
    counter_ = &c;
    return true;
  }

 private:
  Py_ssize_t* counter_ = nullptr;
};

// An instance holding one core value by pointer; the value is immutable.
template <class Core>
struct Instance {
  Borrowable base;
  Core* core;
};

template <class Core>
Core& core_of(PyObject* self) {
  return *reinterpret_cast<Instance<Core>*>(self)->core;
}

// A new instance of `type` taking ownership of `core`.
template <class Core>
PyObject* wrap(PyTypeObject* type, Core* core) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) {
    delete core;
    return nullptr;
  }
  auto* inst = reinterpret_cast<Instance<Core>*>(self);
  inst->base.access = 0;
  inst->core = core;
  return self;
}

// Release the core value first, then the memory through the base free function.
template <class Core>
void instance_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto* inst = reinterpret_cast<Instance<Core>*>(self);
  delete std::exchange(inst->core, nullptr);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

// Heap type flags shared by every class: not subclassable, no __dict__, no weakrefs.
constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// Entry adapters for type slots.
using NewImpl = PyObject* (*)(PyTypeObject*, PyObject*, PyObject*);
using UnaryImpl = PyObject* (*)(PyObject*);
using GetterImpl = PyObject* (*)(PyObject*, void*);
using SetterImpl = int (*)(PyObject*, PyObject*, void*);

template <NewImpl F>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(type, args, kwargs); });
}

template <UnaryImpl F>
PyObject* unary_entry(PyObject* self) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self); });
}

template <GetterImpl F>
PyObject* getter_entry(PyObject* self, void* closure) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, closure); });
}

template <SetterImpl F>
int setter_entry(PyObject* self, PyObject* value, void* closure) noexcept {
  return guarded<int>(-1, [&] { return F(self, value, closure); });
}

// ===========================================================================
// 5. SarfCodec
// ===========================================================================

using talvik::SarfCodec;

PyTypeObject* g_codec_type = nullptr;

constexpr const char* const kCodecNewParams[] = {"morf_map", "normalization"};
constexpr const char* const kTextParam[] = {"text"};

// SarfCodec(morf_map, normalization="medium")
PyObject* codec_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params params{"SarfCodec.__new__()", kCodecNewParams, 1};
  Bound bound;
  if (!bind(params, args, kwargs, bound)) return nullptr;
  talvik::NormalizationLevel level;
  talvik::MorphemeMap map;
  if (!convert("morf_map", [&] { return to_dict(bound[0]); }) ||
      !convert("normalization", [&] { return to_level(bound[1], level); }) ||  //
      !to_morpheme_map(bound[0], map)) {
    return nullptr;
  }
  return wrap(type, new SarfCodec(std::move(map), level));
}

// The four text methods share one shape: bind, take shared access, convert
// `text`, run one codec operation.
template <class Op>
PyObject* codec_text_method(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, Op op) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Access access;
  if (!access.shared(self)) return nullptr;
  Text text;
  if (!convert("text", [&] { return to_text(bound[0], text); })) return nullptr;
  return op(core_of<SarfCodec>(self), text.view);
}

PyObject* codec_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.encode()", kTextParam, 1};
  return codec_text_method(params, self, args, nargs, kwnames,
                           [](const SarfCodec& c, std::string_view t) { return str_result(c.encode(t)); });
}

PyObject* codec_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.decode()", kTextParam, 1};
  return codec_text_method(params, self, args, nargs, kwnames,
                           [](const SarfCodec& c, std::string_view t) { return str_result(c.decode(t)); });
}

PyObject* codec_normalize(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.normalize()", kTextParam, 1};
  return codec_text_method(params, self, args, nargs, kwnames,
                           [](const SarfCodec& c, std::string_view t) { return str_result(c.normalize(t)); });
}

PyObject* codec_roundtrip(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.roundtrip()", kTextParam, 1};
  return codec_text_method(params, self, args, nargs, kwnames,
                           [](const SarfCodec& c, std::string_view t) { return roundtrip_result(c.roundtrip(t)); });
}

// --- batches: the only operations that release the interpreter lock -------

// Releases the lock for its lifetime and takes it back on every path out,
// exceptions included, before anything can reach Python again.
class ReleasedLock {
 public:
  ReleasedLock() noexcept : state_(PyEval_SaveThread()) {}
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;
  ~ReleasedLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

// The texts of a batch as the workers read them: each str's own fixed-width
// storage, which never changes, kept alive by a strong reference so that
// another thread emptying the list meanwhile cannot free it. Converting to
// UTF-8 is left to the workers; only the surrogate check happens here, because
// a text that cannot be encoded must fail before the lock is released.
struct TextBatch {
  std::vector<talvik::utf8::CodeUnits> texts;
  std::vector<Ref> owners;
};

bool to_text_batch(PyObject* o, TextBatch& out) {
  std::size_t size_hint = 0;
  return for_each_item(
      o,
      [&](PyObject* item) {
        if (out.texts.empty() && size_hint > 0) {
          out.texts.reserve(size_hint);
          out.owners.reserve(size_hint);
        }
        if (!PyUnicode_Check(item)) return type_mismatch(item, "str");
        const talvik::utf8::CodeUnits units = units_of(item);
        if (talvik::utf8::has_surrogate(units)) return refuse_surrogates(item);
        out.texts.push_back(units);
        out.owners.emplace_back(Py_NewRef(item));
        return true;
      },
      &size_hint);
}

// num_threads: None or omitted means no request.
bool to_thread_request(PyObject* o, SarfCodec::ThreadRequest& out) {
  if (o == nullptr || o == Py_None) return true;
  std::uint64_t count = 0;
  if (!to_count(o, count)) return false;
  out = count;
  return true;
}

constexpr const char* const kBatchParams[] = {"texts", "num_threads"};

// Arguments are converted with the lock held; the codec runs with it released;
// the result list is built in input order once the lock is back.
template <class Run, class ToPython>
PyObject* codec_batch(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Run run, ToPython to_python) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Access access;
  if (!access.shared(self)) return nullptr;
  TextBatch batch;
  SarfCodec::ThreadRequest request;
  if (!convert("texts", [&] { return to_text_batch(bound[0], batch); }) ||
      !convert("num_threads", [&] { return to_thread_request(bound[1], request); })) {
    return nullptr;
  }
  const SarfCodec& codec = core_of<SarfCodec>(self);
  auto results = [&] {
    ReleasedLock unlocked;
    return run(codec, std::span<const talvik::utf8::CodeUnits>(batch.texts), request);
  }();
  if (!results) {
    raise_internal_failure(results.error().c_str());
    return nullptr;
  }
  Ref list(PyList_New(static_cast<Py_ssize_t>(results->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < results->size(); ++i) {
    PyObject* item = to_python((*results)[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* codec_encode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.encode_batch()", kBatchParams, 1};
  return codec_batch(
      params, self, args, nargs, kwnames,
      [](const SarfCodec& c, std::span<const talvik::utf8::CodeUnits> t, auto n) { return c.encode_batch(t, n); },
      [](const talvik::utf8::WideText& s) { return str_result(s); });
}

PyObject* codec_decode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.decode_batch()", kBatchParams, 1};
  return codec_batch(
      params, self, args, nargs, kwnames,
      [](const SarfCodec& c, std::span<const talvik::utf8::CodeUnits> t, auto n) { return c.decode_batch(t, n); },
      [](const talvik::utf8::WideText& s) { return str_result(s); });
}

PyObject* codec_roundtrip_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.roundtrip_batch()", kBatchParams, 1};
  return codec_batch(
      params, self, args, nargs, kwnames,
      [](const SarfCodec& c, std::span<const talvik::utf8::CodeUnits> t, auto n) { return c.roundtrip_batch(t, n); },
      [](const SarfCodec::WideRoundtrip& r) { return roundtrip_result(r); });
}

constexpr const char* kEncodeBatchDoc =
    "encode_batch($self, texts, num_threads=None)\n--\n\n"
    "Encode a batch of texts in parallel (releases GIL)\n"
    "\n"
    "Processes multiple texts concurrently on the thread pool, providing 3-5x\n"
    "throughput improvement on multi-core systems.\n"
    "\n"
    "Args:\n"
    "    texts: List of texts to encode\n"
    "    num_threads: Number of threads to use (default: CPU count)\n"
    "\n"
    "Returns:\n"
    "    List of encoded strings in the same order as input\n"
    "\n"
    "Example:\n"
    "    >>> encoded = codec.encode_batch(texts, num_threads=8)";

constexpr const char* kDecodeBatchDoc =
    "decode_batch($self, texts, num_threads=None)\n--\n\n"
    "Decode a batch of texts in parallel (releases GIL)\n"
    "\n"
    "Processes multiple texts concurrently on the thread pool, providing 3-5x\n"
    "throughput improvement on multi-core systems.\n"
    "\n"
    "Args:\n"
    "    texts: List of encoded texts to decode\n"
    "    num_threads: Number of threads to use (default: CPU count)\n"
    "\n"
    "Returns:\n"
    "    List of decoded strings in the same order as input\n"
    "\n"
    "Example:\n"
    "    >>> decoded = codec.decode_batch(encoded, num_threads=8)";

constexpr const char* kRoundtripBatchDoc =
    "roundtrip_batch($self, texts, num_threads=None)\n--\n\n"
    "Roundtrip test a batch of texts in parallel (releases GIL)\n"
    "\n"
    "Args:\n"
    "    texts: List of texts to roundtrip test\n"
    "    num_threads: Number of threads to use (default: CPU count)\n"
    "\n"
    "Returns:\n"
    "    List of (normalized, decoded, is_consistent) tuples";

PyObject* codec_stats(PyObject* self, PyObject*) {
  Access access;
  if (!access.shared(self)) return nullptr;
  const talvik::MapStats stats = core_of<SarfCodec>(self).stats();
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  const std::pair<const char*, std::size_t> items[] = {
      {"total_morphemes", stats.total_morphemes},
      {"basic_pua_codes", stats.basic_pua_codes},
      {"supplementary_pua_codes", stats.supplementary_pua_codes},
  };
  for (const auto& [key, value] : items) {
    Ref number(PyLong_FromSize_t(value));
    if (!number || PyDict_SetItemString(dict.get(), key, number.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* codec_num_morphemes(PyObject* self, void*) {
  Access access;
  if (!access.shared(self)) return nullptr;
  return PyLong_FromSize_t(core_of<SarfCodec>(self).num_morphemes());
}

PyObject* codec_repr(PyObject* self) {
  Access access;
  if (!access.shared(self)) return nullptr;
  return PyUnicode_FromFormat("SarfCodec(morphemes=%zu)", core_of<SarfCodec>(self).num_morphemes());
}

// ---------------------------------------------------------------------------
// Map file operations: the codec's loaders and writers and the module's map
// tools. Each is one core call; the operation, not the error kind, picks the
// exception class.
// ---------------------------------------------------------------------------

constexpr const char* const kLoadParams[] = {"path", "normalization"};
constexpr const char* const kPathParam[] = {"path"};
constexpr const char* const kEncryptEncParams[] = {"input_json", "output_enc"};
constexpr const char* const kEncryptBinParams[] = {"input_json", "output_bin"};
constexpr const char* const kConvertParams[] = {"input_enc", "output_bin"};

// The map tools fail by stage: reading or writing a file is an OSError, the
// map's content (JSON text, decryption, encryption) a ValueError.
std::nullptr_t raise_map_tool_error(const talvik::MapToolError& error) {
  PyObject* type = error.stage == talvik::MapToolError::Stage::Content ? PyExc_ValueError : PyExc_OSError;
  Ref text(PyUnicode_FromStringAndSize(error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

template <talvik::Result<talvik::MorphemeMap> (*Load)(std::string_view)>
PyObject* codec_load(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text path;
  talvik::NormalizationLevel level;
  if (!convert("path", [&] { return to_text(bound[0], path); }) ||
      !convert("normalization", [&] { return to_level(bound[1], level); })) {
    return nullptr;
  }
  auto map = Load(path.view);
  if (!map) return raise_core_error(PyExc_OSError, map.error());
  return wrap(g_codec_type, new SarfCodec(std::move(*map), level));
}

PyObject* codec_from_encrypted(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.from_encrypted()", kLoadParams, 1};
  return codec_load<talvik::load_morf_map>(params, args, nargs, kwnames);
}

PyObject* codec_from_binary(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.from_binary()", kLoadParams, 1};
  return codec_load<talvik::load_binary_morf_map>(params, args, nargs, kwnames);
}

template <talvik::Result<void> (*Save)(const talvik::MorphemeMap&, std::string_view)>
PyObject* codec_save(const Params& params, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Access access;
  if (!access.shared(self)) return nullptr;
  Text path;
  if (!convert("path", [&] { return to_text(bound[0], path); })) return nullptr;
  if (auto saved = Save(core_of<SarfCodec>(self).map(), path.view); !saved) {
    return raise_core_error(PyExc_OSError, saved.error());
  }
  Py_RETURN_NONE;
}

PyObject* codec_encrypt_to_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.encrypt_to_file()", kPathParam, 1};
  return codec_save<talvik::save_encrypted_morf_map>(params, self, args, nargs, kwnames);
}

PyObject* codec_encrypt_to_binary_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"SarfCodec.encrypt_to_binary_file()", kPathParam, 1};
  return codec_save<talvik::save_binary_morf_map>(params, self, args, nargs, kwnames);
}

// Two paths in, a count out: encrypt_morf_map, encrypt_morf_map_binary, convert_enc_to_bin.
template <class Tool>
PyObject* map_tool(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Tool tool) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text input, output;
  if (!convert(params.names[0], [&] { return to_text(bound[0], input); }) ||
      !convert(params.names[1], [&] { return to_text(bound[1], output); })) {
    return nullptr;
  }
  const talvik::MapToolResult<std::size_t> count = tool(input.view, output.view);
  if (!count) return raise_map_tool_error(count.error());
  return PyLong_FromSize_t(*count);
}

PyObject* encrypt_morf_map_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"encrypt_morf_map()", kEncryptEncParams, 2};
  return map_tool(params, args, nargs, kwnames, [](std::string_view in, std::string_view out) {
    return talvik::encrypt_morf_map_file(in, out, talvik::MapContainer::Encrypted);
  });
}

PyObject* encrypt_morf_map_binary_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"encrypt_morf_map_binary()", kEncryptBinParams, 2};
  return map_tool(params, args, nargs, kwnames, [](std::string_view in, std::string_view out) {
    return talvik::encrypt_morf_map_file(in, out, talvik::MapContainer::Binary);
  });
}

PyObject* convert_enc_to_bin_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"convert_enc_to_bin()", kConvertParams, 2};
  return map_tool(params, args, nargs, kwnames, talvik::convert_enc_to_bin);
}

PyObject* is_binary_morf_map_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"is_binary_morf_map()", kPathParam, 1};
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text path;
  if (!convert("path", [&] { return to_text(bound[0], path); })) return nullptr;
  return bool_result(talvik::is_binary_morf_map(path.view));
}

constexpr const char* kFromEncryptedDoc =
    "from_encrypted(path, normalization=\"medium\")\n--\n\n"
    "Load codec from encrypted file (.enc or .bin)\n"
    "Auto-detects format based on magic bytes\n"
    "\n"
    "Args:\n"
    "    path: Path to encrypted morf_map file (.enc or .bin)\n"
    "    normalization: Normalization level (\"light\", \"medium\", \"aggressive\")\n"
    "\n"
    "Example:\n"
    "    >>> codec = SarfCodec.from_encrypted(\"morf_map.bin\")\n"
    "    >>> codec = SarfCodec.from_encrypted(\"morf_map.enc\", \"aggressive\")";

constexpr const char* kFromBinaryDoc =
    "from_binary(path, normalization=\"medium\")\n--\n\n"
    "Load codec from binary morf_map file (.bin)\n"
    "Explicit method for binary format\n"
    "\n"
    "Args:\n"
    "    path: Path to binary morf_map file (.bin)\n"
    "    normalization: Normalization level (\"light\", \"medium\", \"aggressive\")";

constexpr const char* kEncryptToFileDoc =
    "encrypt_to_file($self, path)\n--\n\n"
    "Encrypt and save morf_map to .enc file (legacy JSON format)\n"
    "Creates a .enc file that can only be read by this library\n"
    "\n"
    "Args:\n"
    "    path: Path to output .enc file";

constexpr const char* kEncryptToBinaryFileDoc =
    "encrypt_to_binary_file($self, path)\n--\n\n"
    "Encrypt and save morf_map to .bin file (recommended binary format)\n"
    "Creates a .bin file with strongest IP protection\n"
    "\n"
    "Args:\n"
    "    path: Path to output .bin file";

constexpr const char* kEncryptMorfMapDoc =
    "encrypt_morf_map(input_json, output_enc)\n--\n\n"
    "Encrypt a morf_map JSON file to an encrypted .enc file (legacy format)\n"
    "The encrypted file can only be read by this library.\n"
    "\n"
    "Args:\n"
    "    input_json: Path to input JSON file with morpheme map\n"
    "    output_enc: Path to output .enc file\n"
    "\n"
    "Returns:\n"
    "    Number of morphemes in the map";

constexpr const char* kEncryptMorfMapBinaryDoc =
    "encrypt_morf_map_binary(input_json, output_bin)\n--\n\n"
    "Encrypt a morf_map JSON file to binary format (.bin)\n"
    "This is the recommended format for strongest IP protection:\n"
    "- No recognizable JSON structure\n"
    "- Raw binary data (33% smaller than base64)\n"
    "- Magic bytes \"SARF\" only identify the file type\n"
    "\n"
    "Args:\n"
    "    input_json: Path to input JSON file with morpheme map\n"
    "    output_bin: Path to output .bin file\n"
    "\n"
    "Returns:\n"
    "    Number of morphemes in the map\n"
    "\n"
    "Example:\n"
    "    >>> count = encrypt_morf_map_binary(\"morf_map.json\", \"morf_map.bin\")\n"
    "    >>> print(count)\n"
    "    1234";

constexpr const char* kIsBinaryMorfMapDoc =
    "is_binary_morf_map(path)\n--\n\n"
    "Check if a file is a valid binary morf_map (.bin format)\n"
    "\n"
    "Args:\n"
    "    path: Path to the file to check\n"
    "\n"
    "Returns:\n"
    "    True if file has SARF magic bytes, False otherwise\n"
    "\n"
    "Example:\n"
    "    >>> is_binary_morf_map(\"morf_map.bin\")\n"
    "    True\n"
    "    >>> is_binary_morf_map(\"morf_map.enc\")\n"
    "    False";

constexpr const char* kConvertEncToBinDoc =
    "convert_enc_to_bin(input_enc, output_bin)\n--\n\n"
    "Convert a .enc file to .bin format\n"
    "\n"
    "Args:\n"
    "    input_enc: Path to input .enc file\n"
    "    output_bin: Path to output .bin file\n"
    "\n"
    "Returns:\n"
    "    Number of morphemes in the map";

PyMethodDef g_encrypt_morf_map_def = fast_method<encrypt_morf_map_impl>("encrypt_morf_map", kEncryptMorfMapDoc);
PyMethodDef g_encrypt_morf_map_binary_def =
    fast_method<encrypt_morf_map_binary_impl>("encrypt_morf_map_binary", kEncryptMorfMapBinaryDoc);
PyMethodDef g_is_binary_morf_map_def =
    fast_method<is_binary_morf_map_impl>("is_binary_morf_map", kIsBinaryMorfMapDoc);
PyMethodDef g_convert_enc_to_bin_def =
    fast_method<convert_enc_to_bin_impl>("convert_enc_to_bin", kConvertEncToBinDoc);

PyMethodDef g_codec_methods[] = {
    fast_method<codec_from_encrypted>("from_encrypted", kFromEncryptedDoc, METH_STATIC),
    fast_method<codec_from_binary>("from_binary", kFromBinaryDoc, METH_STATIC),
    fast_method<codec_encrypt_to_file>("encrypt_to_file", kEncryptToFileDoc),
    fast_method<codec_encrypt_to_binary_file>("encrypt_to_binary_file", kEncryptToBinaryFileDoc),
    fast_method<codec_encode>("encode", "encode($self, text)\n--\n\nEncode text (normalize + morpheme -> PUA)"),
    fast_method<codec_decode>("decode",
                              "decode($self, text)\n--\n\nDecode text (byte decode + PUA -> morpheme + post-process)"),
    fast_method<codec_normalize>("normalize", "normalize($self, text)\n--\n\nNormalize text only"),
    fast_method<codec_roundtrip>("roundtrip", "roundtrip($self, text)\n--\n\nRoundtrip test"),
    noargs_method<codec_stats>("stats", "stats($self)\n--\n\nGet statistics as dict"),
    fast_method<codec_encode_batch>("encode_batch", kEncodeBatchDoc),
    fast_method<codec_decode_batch>("decode_batch", kDecodeBatchDoc),
    fast_method<codec_roundtrip_batch>("roundtrip_batch", kRoundtripBatchDoc),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_codec_getset[] = {
    {"num_morphemes", &getter_entry<codec_num_morphemes>, nullptr, "Get number of morphemes", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_codec_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<codec_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&instance_dealloc<SarfCodec>)},
    {Py_tp_repr, reinterpret_cast<void*>(&unary_entry<codec_repr>)},
    {Py_tp_methods, g_codec_methods},
    {Py_tp_getset, g_codec_getset},
    {Py_tp_doc, const_cast<char*>("SarfCodec(morf_map, normalization=\"medium\")\n--\n\n"
                                  "Python wrapper for SarfCodec - the main encode/decode interface")},
    {0, nullptr},
};

PyType_Spec g_codec_spec = {"builtins.SarfCodec", sizeof(Instance<SarfCodec>), 0, kClassFlags, g_codec_slots};

// ===========================================================================
// 6. NormalizationConfig
// ===========================================================================
//
// Six flags by name; the only mutable state the module exposes. Setters
// convert first, then take exclusive access, so a bad value changes nothing.

struct ConfigFlags {
  static constexpr std::size_t kCount = 6;
  std::array<bool, kCount> values;
};

constexpr const char* const kConfigFlagNames[ConfigFlags::kCount] = {
    "normalize_alef",   "normalize_taa_marbouta", "normalize_alef_maqsura",
    "strip_diacritics", "remove_tatweel",         "normalize_digits",
};
constexpr std::array<bool, ConfigFlags::kCount> kConfigDefaults = {false, false, false, false, true, false};

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Params params{"NormalizationConfig.__new__()", kConfigFlagNames, 0};
  Bound bound;
  if (!bind(params, args, kwargs, bound)) return nullptr;
  std::array<bool, ConfigFlags::kCount> values = kConfigDefaults;
  for (std::size_t i = 0; i < ConfigFlags::kCount; ++i) {
    if (bound[i] != nullptr && !convert(kConfigFlagNames[i], [&] { return to_flag(bound[i], values[i]); })) {
      return nullptr;
    }
  }
  return wrap(type, new ConfigFlags{values});
}

std::size_t flag_index(void* closure) { return reinterpret_cast<std::uintptr_t>(closure); }

PyObject* config_get(PyObject* self, void* closure) {
  Access access;
  if (!access.shared(self)) return nullptr;
  return bool_result(core_of<ConfigFlags>(self).values[flag_index(closure)]);
}

int config_set(PyObject* self, PyObject* value, void* closure) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return -1;
  }
  const std::size_t i = flag_index(closure);
  bool flag = false;
  if (!convert(kConfigFlagNames[i], [&] { return to_flag(value, flag); })) return -1;
  Access access;
  if (!access.exclusive(self)) return -1;
  core_of<ConfigFlags>(self).values[i] = flag;
  return 0;
}

template <std::size_t I>
constexpr PyGetSetDef config_flag() {
  return {kConfigFlagNames[I], &getter_entry<config_get>, &setter_entry<config_set>, "",
          reinterpret_cast<void*>(static_cast<std::uintptr_t>(I))};
}

PyGetSetDef g_config_getset[] = {
    config_flag<0>(), config_flag<1>(), config_flag<2>(), config_flag<3>(), config_flag<4>(), config_flag<5>(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_config_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<config_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&instance_dealloc<ConfigFlags>)},
    {Py_tp_getset, g_config_getset},
    {Py_tp_doc, const_cast<char*>("NormalizationConfig(normalize_alef=False, normalize_taa_marbouta=False, "
                                  "normalize_alef_maqsura=False, strip_diacritics=False, remove_tatweel=True, "
                                  "normalize_digits=False)\n--\n\nPython-facing normalization config")},
    {0, nullptr},
};

PyTypeObject* g_config_type = nullptr;

PyType_Spec g_config_spec = {"builtins.NormalizationConfig", sizeof(Instance<ConfigFlags>), 0, kClassFlags, g_config_slots};

// ===========================================================================
// 7. Module functions
// ===========================================================================

constexpr const char* const kChParam[] = {"ch"};

PyObject* version_impl(PyObject*, PyObject*) { return PyUnicode_FromString(kVersion); }

template <bool (*Predicate)(char32_t) noexcept>
PyObject* char_predicate(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  char32_t ch = 0;
  if (!convert("ch", [&] { return to_char(bound[0], ch); })) return nullptr;
  return bool_result(Predicate(ch));
}

PyObject* is_arabic_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"is_arabic()", kChParam, 1};
  return char_predicate<talvik::is_arabic>(params, args, nargs, kwnames);
}

PyObject* is_pua_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"is_pua()", kChParam, 1};
  return char_predicate<talvik::is_pua>(params, args, nargs, kwnames);
}

constexpr const char* const kTextMapParams[] = {"text", "morf_map"};
constexpr const char* const kNormalizeParams[] = {"text", "level"};

// encode(text, morf_map) and decode(text, morf_map): the one-shot codec. The
// matcher is built from the whole map on every call; nothing is cached.
template <class Op>
PyObject* text_with_map(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Op op) {
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text text;
  talvik::MorphemeMap map;
  if (!convert("text", [&] { return to_text(bound[0], text); }) ||
      !convert("morf_map", [&] { return to_dict(bound[1]); }) || !to_morpheme_map(bound[1], map)) {
    return nullptr;
  }
  return str_result(op(map, text.view));
}

PyObject* encode_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"encode()", kTextMapParams, 2};
  return text_with_map(params, args, nargs, kwnames, [](const talvik::MorphemeMap& map, std::string_view text) {
    return talvik::SarfEncoder(map, talvik::NormalizationLevel::Medium).encode(text);
  });
}

PyObject* decode_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"decode()", kTextMapParams, 2};
  return text_with_map(params, args, nargs, kwnames, [](const talvik::MorphemeMap& map, std::string_view text) {
    return talvik::SarfDecoder(map).decode(text);
  });
}

PyObject* normalize_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"normalize()", kNormalizeParams, 1};
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text text;
  talvik::NormalizationLevel level;
  if (!convert("text", [&] { return to_text(bound[0], text); }) ||
      !convert("level", [&] { return to_level(bound[1], level); })) {
    return nullptr;
  }
  return str_result(talvik::normalize_with_level(text.view, level));
}

PyObject* decode_bytes_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Params params{"decode_bytes()", kTextParam, 1};
  Bound bound;
  if (!bind(params, args, nargs, kwnames, bound)) return nullptr;
  Text text;
  if (!convert("text", [&] { return to_text(bound[0], text); })) return nullptr;
  return str_result(talvik::decode_bytes(text.view));
}

PyMethodDef g_encode_def = fast_method<encode_impl>(
    "encode", "encode(text, morf_map)\n--\n\nEncode text with a morpheme map (v2 API)");
PyMethodDef g_decode_def = fast_method<decode_impl>(
    "decode", "decode(text, morf_map)\n--\n\nDecode text with a morpheme map (v2 API)");
PyMethodDef g_normalize_def =
    fast_method<normalize_impl>("normalize", "normalize(text, level=\"medium\")\n--\n\nNormalize Arabic text");
PyMethodDef g_decode_bytes_def = fast_method<decode_bytes_impl>(
    "decode_bytes", "decode_bytes(text)\n--\n\nDecode GPT-2 style byte-encoded text");
PyMethodDef g_is_arabic_def =
    fast_method<is_arabic_impl>("is_arabic", "is_arabic(ch)\n--\n\nCheck if character is Arabic");
PyMethodDef g_is_pua_def = fast_method<is_pua_impl>("is_pua", "is_pua(ch)\n--\n\nCheck if character is PUA");
PyMethodDef g_version_def = noargs_method<version_impl>("version", "version()\n--\n\nGet version");

// ===========================================================================
// 8. Module initialisation
// ===========================================================================

constexpr const char* kModuleDoc = "tessarline._tessarline - native bindings for high-performance Arabic tokenization";

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_tessarline",
    kModuleDoc,
    0,        // no per-module state
    nullptr,  // no method table: everything is registered as an attribute
    nullptr, nullptr, nullptr, nullptr,
};

// Process-wide record: the interpreter that first initialised the module and the module itself.
std::int64_t g_interpreter_id = -1;
PyObject* g_module = nullptr;

// Adds `value` (a new reference, consumed) under `name` and appends the name to __all__.
bool register_attribute(PyObject* module, PyObject* all, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  if (PyModule_Add(module, name, value) < 0) return false;
  Ref text(PyUnicode_FromString(name));
  return text && PyList_Append(all, text.get()) == 0;
}

// Creates a class from its spec; `slot` keeps the type for the loaders that build instances.
// Spec names read "builtins.<Class>": the part before the dot becomes __module__ (a name
// without a dot is deprecated). tp_name then drops that prefix, as for the built-in types,
// so reprs and messages say 'SarfCodec'. The pointer stays inside the type's own copy
// of the name, which the type frees through its own field, never through tp_name.
bool register_type(PyObject* module, PyObject* all, PyType_Spec* spec, PyTypeObject** slot) {
  Ref type(PyType_FromSpec(spec));
  if (!type) return false;
  auto* as_type = reinterpret_cast<PyTypeObject*>(type.get());
  const char* dot = std::strrchr(as_type->tp_name, '.');
  if (dot != nullptr) as_type->tp_name = dot + 1;
  *slot = as_type;
  return register_attribute(module, all, as_type->tp_name, type.release());
}

bool register_function(PyObject* module, PyObject* all, PyMethodDef* def) {
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  return register_attribute(module, all, def->ml_name, PyCFunction_NewEx(def, module, module_name.get()));
}

// Registration in its fixed order; the names land in __all__ in the same order.
bool register_all(PyObject* module) {
  Ref all_list(PyList_New(0));
  if (!all_list || PyModule_AddObjectRef(module, "__all__", all_list.get()) < 0) return false;
  PyObject* all = all_list.get();
  return register_type(module, all, &g_codec_spec, &g_codec_type) &&                  // 1
         register_type(module, all, &g_config_spec, &g_config_type) &&                // 3
         register_function(module, all, &g_encode_def) &&                             // 4
         register_function(module, all, &g_decode_def) &&                             // 5
         register_function(module, all, &g_normalize_def) &&                          // 6
         register_function(module, all, &g_is_arabic_def) &&                         // 7
         register_function(module, all, &g_is_pua_def) &&                            // 8
         register_function(module, all, &g_version_def) &&                           // 9
         register_function(module, all, &g_decode_bytes_def) &&                      // 10
         register_function(module, all, &g_encrypt_morf_map_def) &&                  // 11
         register_function(module, all, &g_encrypt_morf_map_binary_def) &&           // 12
         register_function(module, all, &g_is_binary_morf_map_def) &&                // 13
         register_function(module, all, &g_convert_enc_to_bin_def) &&                // 14
         register_attribute(module, all, "__version__", PyUnicode_FromString(kVersion));  // 15
}

PyObject* init_module() {
  PyInterpreterState* interp = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interp);
  if (id == -1 && PyErr_Occurred()) return nullptr;
  if (g_interpreter_id == -1) {
    g_interpreter_id = id;
  } else if (g_interpreter_id != id) {
    PyErr_SetString(PyExc_ImportError,
                    "tessarline._tessarline does not support sub-interpreters: it was already initialised "
                    "in another interpreter of this process");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  Ref module(PyModule_Create(&g_module_def));
  if (!module || !register_all(module.get())) return nullptr;
  g_module = Py_NewRef(module.get());
  return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__tessarline() {
  return guarded<PyObject*>(nullptr, [] { return init_module(); });
}
