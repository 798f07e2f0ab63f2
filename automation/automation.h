#pragma once
// A small late-bound automation runtime standing in for COM/OLE Automation on Linux.
// Names and shapes follow the Windows API so that a Windows build could map each
// operation onto the real one. No window toolkit is used here.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace automation {

using HRESULT = int32_t;
using DISPID = int32_t;
using LCID = uint32_t;

constexpr HRESULT hr(uint32_t code) {
    return static_cast<HRESULT>(code);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hr(0x80004002);
inline constexpr HRESULT E_POINTER = hr(0x80004003);
inline constexpr HRESULT E_FAIL = hr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hr(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = hr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hr(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hr(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hr(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hr(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hr(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hr(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = hr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hr(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hr(0x8002000B);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hr(0x8002000F);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hr(0x8002000E);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hr(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = hr(0x800401F3);
inline constexpr HRESULT MK_E_UNAVAILABLE = hr(0x800401E3);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hr(0x80080005);
inline constexpr HRESULT RPC_E_DISCONNECTED = hr(0x80010108);
inline constexpr HRESULT RPC_E_SERVERFAULT = hr(0x80010105);
inline constexpr HRESULT RPC_E_CALL_REJECTED = hr(0x80010001);
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = hr(0x800706BA);
inline constexpr HRESULT RPC_S_CALL_FAILED = hr(0x800706BE);
inline constexpr HRESULT E_ABORT = hr(0x80004004);
inline constexpr HRESULT E_ACCESSDENIED = hr(0x80070005);
inline constexpr HRESULT E_HANDLE = hr(0x80070006);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hr(0x80040110);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hr(0x800401F0);

constexpr bool SUCCEEDED(HRESULT h) {
    return h >= 0;
}
constexpr bool FAILED(HRESULT h) {
    return h < 0;
}

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// What a member does with a parameter, as its type information says (COM's PARAMDESC flags):
// an [in] parameter is only read, an [in, out] one may be changed through its reference.
inline constexpr uint16_t PARAMFLAG_NONE = 0;
inline constexpr uint16_t PARAMFLAG_FIN = 1;
inline constexpr uint16_t PARAMFLAG_FOUT = 2;

inline constexpr uint16_t DISPATCH_METHOD = 1;
inline constexpr uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr uint16_t DISPATCH_PROPERTYPUT = 4;

inline constexpr uint32_t CLSCTX_INPROC_SERVER = 1;
inline constexpr uint32_t CLSCTX_LOCAL_SERVER = 4;

// RegisterActiveObject flags. The table here always keeps a strong reference.
inline constexpr uint32_t ACTIVEOBJECT_STRONG = 0;
inline constexpr uint32_t ACTIVEOBJECT_WEAK = 1;

// OLE text: UTF-16, with a null text distinct from the empty one.
class BStr {
public:
    BStr() = default; // the null text
    BStr(std::u16string text) : text_(std::move(text)) {}
    BStr(const char16_t* text) : text_(text ? std::optional<std::u16string>(text) : std::nullopt) {}
    bool isNull() const { return !text_.has_value(); }
    // The null text reads as empty.
    const std::u16string& str() const;
    bool operator==(const BStr& other) const { return text_ == other.text_; }

private:
    std::optional<std::u16string> text_;
};

std::string toUtf8(const std::u16string& text);
// Appends one code point (a lone surrogate has no UTF-8 form: pass U+FFFD instead).
void AppendUtf8(std::string& out, uint32_t codePoint);
std::u16string fromUtf8(const std::string& text);

// Reference-counted base of every automation object.
class IUnknown {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class Variant;

struct EXCEPINFO {
    uint16_t wCode = 0;
    std::u16string bstrSource;
    std::u16string bstrDescription;
    HRESULT scode = 0;
};

struct DISPPARAMS;

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) = 0;
    virtual HRESULT Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                           Variant* result, EXCEPINFO* excepInfo, uint32_t* argErr) = 0;
};

// Owning smart pointer over AddRef/Release.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    // Adopts a reference the caller already owns.
    static ComPtr attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    T* detach() { return std::exchange(p_, nullptr); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    bool operator==(const ComPtr& o) const { return p_ == o.p_; }

private:
    T* p_ = nullptr;
};

using DispatchPtr = ComPtr<IDispatch>;

// Implements the reference count; objects delete themselves at zero.
template <class Base = IDispatch> class RefCounted : public Base {
public:
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    uint32_t refCount() const { return refs_; }

private:
    std::atomic<uint32_t> refs_{0};
};

enum VARTYPE : uint16_t {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_CY = 6,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_BOOL = 11,
    VT_BYREF = 0x4000,
};

struct CY {
    int64_t int64 = 0; // ten-thousandths
    bool operator==(const CY&) const = default;
    static CY fromDouble(double value); // rounds half away from zero
    double toDouble() const { return static_cast<double>(int64) / 10000.0; }
};

// VARIANT_BOOL: true is -1, false is 0.
using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// An automation value. By-reference kinds point at the caller's storage.
class Variant {
public:
    Variant() = default;
    static Variant fromInt(int32_t v);
    static Variant fromDouble(double v);
    static Variant fromCurrency(CY v);
    static Variant fromBool(bool v);
    static Variant fromBStr(BStr v);
    static Variant fromDispatch(DispatchPtr v);
    static Variant byRefDouble(double* target);
    static Variant byRefDispatch(IDispatch** target);

    uint16_t vt() const;
    bool isEmpty() const { return vt() == VT_EMPTY; }

    int32_t intVal() const;
    double dblVal() const;
    CY cyVal() const;
    VARIANT_BOOL boolVal() const;
    const BStr& bstrVal() const;
    const DispatchPtr& dispVal() const;
    double* pdblVal() const;
    IDispatch** ppdispVal() const;

    // Coercions used by servers: accept the usual numeric kinds, following references.
    // Return DISP_E_TYPEMISMATCH (or DISP_E_OVERFLOW) when the value does not convert.
    HRESULT toDouble(double* out) const;
    HRESULT toInt(int32_t* out) const;
    HRESULT toBool(bool* out) const;
    HRESULT toBStr(BStr* out) const;
    HRESULT toDispatch(DispatchPtr* out) const;

private:
    struct ByRefDouble {
        double* p;
    };
    struct ByRefDispatch {
        IDispatch** p;
    };
    std::variant<std::monostate, int32_t, double, CY, VARIANT_BOOL, BStr, DispatchPtr, ByRefDouble,
                 ByRefDispatch>
        v_;
};

// Arguments are held in COM's order: the last argument first.
struct DISPPARAMS {
    std::vector<Variant> rgvarg;
    std::vector<DISPID> rgdispidNamedArgs;
    uint32_t cArgs() const { return static_cast<uint32_t>(rgvarg.size()); }
    uint32_t cNamedArgs() const { return static_cast<uint32_t>(rgdispidNamedArgs.size()); }
};

// Class identifiers are plain text here; GUID formatting adds nothing on Linux.
struct CLSID {
    std::string value;
    bool operator==(const CLSID&) const = default;
};

using ClassFactory = std::function<HRESULT(IDispatch** out)>;

// Answers GetActiveObject for a class whose running instance lives in another program.
using ActiveObjectLookup = std::function<HRESULT(IDispatch** out)>;

// The class registry: a ProgID names a class; servers register a factory for it.
// Registering again replaces the factory (and drops any lookup). Returns the class identifier.
CLSID RegisterClassObject(const std::u16string& progId, ClassFactory factory,
                          uint32_t context = CLSCTX_INPROC_SERVER);
// As above, for a class served by another program: when the running-object table here holds
// no entry for the class, GetActiveObject asks activeLookup.
CLSID RegisterClassObject(const std::u16string& progId, ClassFactory factory, uint32_t context,
                          ActiveObjectLookup activeLookup);
void UnregisterClassObject(const std::u16string& progId);

HRESULT CLSIDFromProgID(const std::u16string& progId, CLSID* clsid);
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, IDispatch** out);

// The running-object table.
HRESULT RegisterActiveObject(IDispatch* object, const CLSID& clsid, uint32_t flags,
                             uint32_t* cookie);
HRESULT RevokeActiveObject(uint32_t cookie);
HRESULT GetActiveObject(const CLSID& clsid, void* reserved, IDispatch** out);

// What went wrong in the last failed creation on this thread, beyond its HRESULT (as COM's
// error object carries it): set by the class that failed, taken (and so cleared) by the
// caller that reports it. Empty when nothing more is known.
void SetErrorDescription(std::string description);
std::string TakeErrorDescription();

// The system's text for an HRESULT, empty when it has none.
std::string SysErrorMessage(HRESULT code);
// The text an error report shows for a failed call: the system's text, or
// "OLE error %.8x" when it has none.
std::string OleErrorText(HRESULT code);

} // namespace automation
