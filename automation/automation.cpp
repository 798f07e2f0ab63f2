#include "automation/automation.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <utility>

namespace automation {

// ---- OLE text --------------------------------------------------------------------------------

const std::u16string& BStr::str() const {
    static const std::u16string empty;
    return text_ ? *text_ : empty;
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string fromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        uint32_t c = 0xFFFD;
        size_t length = 1;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, c = lead & 0x07, minimum = 0x10000;
        } else {
            length = 0; // stray continuation or invalid lead byte
        }
        if (length > 1) {
            bool valid = i + length <= text.size();
            for (size_t k = 1; valid && k < length; ++k) {
                valid = (byte(i + k) & 0xC0) == 0x80;
                c = (c << 6) | (byte(i + k) & 0x3F);
            }
            if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                c = 0xFFFD;
                length = 1;
            }
        }
        if (length == 0) {
            c = 0xFFFD;
            length = 1;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

// ---- Automation values -----------------------------------------------------------------------

CY CY::fromDouble(double value) {
    const double scaled = value * 10000.0;
    constexpr double limit = 9.2e18;
    if (!(scaled > -limit))
        return CY{std::numeric_limits<int64_t>::min()};
    if (!(scaled < limit))
        return CY{std::numeric_limits<int64_t>::max()};
    return CY{static_cast<int64_t>(std::llround(scaled))};
}

Variant Variant::fromInt(int32_t v) {
    Variant r;
    r.v_ = v;
    return r;
}
Variant Variant::fromDouble(double v) {
    Variant r;
    r.v_ = v;
    return r;
}
Variant Variant::fromCurrency(CY v) {
    Variant r;
    r.v_ = v;
    return r;
}
Variant Variant::fromBool(bool v) {
    Variant r;
    r.v_ = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
Variant Variant::fromBStr(BStr v) {
    Variant r;
    r.v_ = std::move(v);
    return r;
}
Variant Variant::fromDispatch(DispatchPtr v) {
    Variant r;
    r.v_ = std::move(v);
    return r;
}
Variant Variant::byRefDouble(double* target) {
    Variant r;
    r.v_ = ByRefDouble{target};
    return r;
}
Variant Variant::byRefDispatch(IDispatch** target) {
    Variant r;
    r.v_ = ByRefDispatch{target};
    return r;
}

uint16_t Variant::vt() const {
    switch (v_.index()) {
    case 1:
        return VT_I4;
    case 2:
        return VT_R8;
    case 3:
        return VT_CY;
    case 4:
        return VT_BOOL;
    case 5:
        return VT_BSTR;
    case 6:
        return VT_DISPATCH;
    case 7:
        return VT_BYREF | VT_R8;
    case 8:
        return VT_BYREF | VT_DISPATCH;
    default:
        return VT_EMPTY;
    }
}

int32_t Variant::intVal() const {
    const auto* p = std::get_if<int32_t>(&v_);
    return p ? *p : 0;
}
double Variant::dblVal() const {
    const auto* p = std::get_if<double>(&v_);
    return p ? *p : 0.0;
}
CY Variant::cyVal() const {
    const auto* p = std::get_if<CY>(&v_);
    return p ? *p : CY{};
}
VARIANT_BOOL Variant::boolVal() const {
    const auto* p = std::get_if<VARIANT_BOOL>(&v_);
    return p ? *p : VARIANT_FALSE;
}
const BStr& Variant::bstrVal() const {
    static const BStr none;
    const auto* p = std::get_if<BStr>(&v_);
    return p ? *p : none;
}
const DispatchPtr& Variant::dispVal() const {
    static const DispatchPtr none;
    const auto* p = std::get_if<DispatchPtr>(&v_);
    return p ? *p : none;
}
double* Variant::pdblVal() const {
    const auto* p = std::get_if<ByRefDouble>(&v_);
    return p ? p->p : nullptr;
}
IDispatch** Variant::ppdispVal() const {
    const auto* p = std::get_if<ByRefDispatch>(&v_);
    return p ? p->p : nullptr;
}

HRESULT Variant::toDouble(double* out) const {
    if (!out)
        return E_POINTER;
    switch (vt()) {
    case VT_EMPTY:
        *out = 0.0;
        return S_OK;
    case VT_I4:
        *out = intVal();
        return S_OK;
    case VT_R8:
        *out = dblVal();
        return S_OK;
    case VT_CY:
        *out = cyVal().toDouble();
        return S_OK;
    case VT_BOOL:
        *out = boolVal();
        return S_OK;
    case VT_BYREF | VT_R8:
        if (!pdblVal())
            return E_POINTER;
        *out = *pdblVal();
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Variant::toInt(int32_t* out) const {
    if (!out)
        return E_POINTER;
    switch (vt()) {
    case VT_I4:
        *out = intVal();
        return S_OK;
    case VT_CY: {
        const int64_t whole = cyVal().int64 / 10000;
        if (whole < std::numeric_limits<int32_t>::min() ||
            whole > std::numeric_limits<int32_t>::max())
            return DISP_E_OVERFLOW;
        *out = static_cast<int32_t>(std::llround(cyVal().toDouble()));
        return S_OK;
    }
    default: {
        double value = 0;
        const HRESULT h = toDouble(&value);
        if (FAILED(h))
            return h;
        // Automation rounds half to even when it narrows a float.
        const double rounded = std::nearbyint(value);
        if (!(rounded >= std::numeric_limits<int32_t>::min() &&
              rounded <= std::numeric_limits<int32_t>::max()))
            return DISP_E_OVERFLOW;
        *out = static_cast<int32_t>(rounded);
        return S_OK;
    }
    }
}

HRESULT Variant::toBool(bool* out) const {
    if (!out)
        return E_POINTER;
    if (vt() == VT_BOOL) {
        *out = boolVal() != VARIANT_FALSE;
        return S_OK;
    }
    double value = 0;
    const HRESULT h = toDouble(&value);
    if (FAILED(h))
        return h;
    *out = value != 0.0;
    return S_OK;
}

HRESULT Variant::toBStr(BStr* out) const {
    if (!out)
        return E_POINTER;
    switch (vt()) {
    case VT_EMPTY:
        *out = BStr();
        return S_OK;
    case VT_BSTR:
        *out = bstrVal();
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Variant::toDispatch(DispatchPtr* out) const {
    if (!out)
        return E_POINTER;
    switch (vt()) {
    case VT_EMPTY:
        *out = nullptr;
        return S_OK;
    case VT_DISPATCH:
        *out = dispVal();
        return S_OK;
    case VT_BYREF | VT_DISPATCH:
        if (!ppdispVal())
            return E_POINTER;
        *out = DispatchPtr(*ppdispVal());
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// ---- Class registry and running-object table -------------------------------------------------

namespace {

// ProgIDs compare without regard to ASCII case, as the Windows registry does.
std::u16string foldProgId(const std::u16string& progId) {
    std::u16string folded = progId;
    for (auto& c : folded)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return folded;
}

struct ClassEntry {
    std::u16string key;
    CLSID clsid;
    ClassFactory factory;
    uint32_t context;
    ActiveObjectLookup activeLookup;
};

struct ActiveEntry {
    uint32_t cookie;
    CLSID clsid;
    DispatchPtr object;
};

struct Registry {
    std::mutex mutex;
    std::vector<ClassEntry> classes;
    std::vector<ActiveEntry> running;
    uint32_t nextCookie = 1;
};

// Never destroyed: servers may still revoke or release during static destruction.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

} // namespace

CLSID RegisterClassObject(const std::u16string& progId, ClassFactory factory, uint32_t context) {
    return RegisterClassObject(progId, std::move(factory), context, nullptr);
}

CLSID RegisterClassObject(const std::u16string& progId, ClassFactory factory, uint32_t context,
                          ActiveObjectLookup activeLookup) {
    const std::u16string key = foldProgId(progId);
    CLSID clsid{"progid:" + toUtf8(key)};
    // Destroyed after unlocking: they may own server objects.
    ClassFactory previous;
    ActiveObjectLookup previousLookup;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& entry : r.classes) {
        if (entry.key == key) {
            previous = std::exchange(entry.factory, std::move(factory));
            previousLookup = std::exchange(entry.activeLookup, std::move(activeLookup));
            entry.context = context;
            return clsid;
        }
    }
    r.classes.push_back({key, clsid, std::move(factory), context, std::move(activeLookup)});
    return clsid;
}

void UnregisterClassObject(const std::u16string& progId) {
    const std::u16string key = foldProgId(progId);
    ClassFactory dropped; // destroyed outside the lock: it may own server objects
    ActiveObjectLookup droppedLookup;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.classes.begin(); it != r.classes.end(); ++it) {
        if (it->key == key) {
            dropped = std::move(it->factory);
            droppedLookup = std::move(it->activeLookup);
            r.classes.erase(it);
            break;
        }
    }
}

HRESULT CLSIDFromProgID(const std::u16string& progId, CLSID* clsid) {
    if (!clsid)
        return E_INVALIDARG;
    const std::u16string key = foldProgId(progId);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& entry : r.classes) {
        if (entry.key == key) {
            *clsid = entry.clsid;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, IDispatch** out) {
    SetErrorDescription({}); // what an earlier creation left untaken is not this one's
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    ClassFactory factory;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        for (const auto& entry : r.classes) {
            if (entry.clsid == clsid && (entry.context & context) != 0) {
                factory = entry.factory;
                break;
            }
        }
    }
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    // The factory runs unlocked: a server may register itself as running while it starts.
    IDispatch* created = nullptr;
    const HRESULT h = factory(&created);
    if (FAILED(h)) {
        if (created)
            created->Release();
        return h;
    }
    if (!created)
        return E_NOINTERFACE;
    *out = created;
    return S_OK;
}

HRESULT RegisterActiveObject(IDispatch* object, const CLSID& clsid, uint32_t /*flags*/,
                             uint32_t* cookie) {
    if (!object || !cookie)
        return E_INVALIDARG;
    // The table always holds a strong reference; a server leaves it with RevokeActiveObject.
    DispatchPtr held(object);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    *cookie = r.nextCookie++;
    r.running.push_back({*cookie, clsid, std::move(held)});
    return S_OK;
}

HRESULT RevokeActiveObject(uint32_t cookie) {
    DispatchPtr dropped; // released after unlocking: its destructor may call back in here
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        for (auto it = r.running.begin(); it != r.running.end(); ++it) {
            if (it->cookie == cookie) {
                dropped = std::move(it->object);
                r.running.erase(it);
                return S_OK;
            }
        }
    }
    return E_INVALIDARG;
}

HRESULT GetActiveObject(const CLSID& clsid, void* /*reserved*/, IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ActiveObjectLookup lookup;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        for (const auto& entry : r.running) {
            if (entry.clsid == clsid) {
                entry.object->AddRef();
                *out = entry.object.get();
                return S_OK;
            }
        }
        for (const auto& entry : r.classes)
            if (entry.clsid == clsid)
                lookup = entry.activeLookup;
    }
    if (!lookup)
        return MK_E_UNAVAILABLE;
    // Unlocked: asking another program takes time and may call back into this table.
    IDispatch* found = nullptr;
    const HRESULT h = lookup(&found);
    if (FAILED(h) || !found) {
        if (found)
            found->Release();
        return FAILED(h) ? h : MK_E_UNAVAILABLE;
    }
    *out = found;
    return S_OK;
}

// ---- Error texts -----------------------------------------------------------------------------

namespace {
thread_local std::string LastErrorDescription;
} // namespace

void SetErrorDescription(std::string description) {
    LastErrorDescription = std::move(description);
}

std::string TakeErrorDescription() {
    return std::exchange(LastErrorDescription, {});
}

std::string SysErrorMessage(HRESULT code) {
    struct Entry {
        HRESULT code;
        const char* text;
    };
    static const Entry table[] = {
        {S_OK, "The operation completed successfully"},
        {E_UNEXPECTED, "Catastrophic failure"},
        {E_NOTIMPL, "Not implemented"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_POINTER, "Invalid pointer"},
        {E_ABORT, "Operation aborted"},
        {E_FAIL, "Unspecified error"},
        {E_ACCESSDENIED, "Access is denied"},
        {E_HANDLE, "The handle is invalid"},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation"},
        {E_INVALIDARG, "The parameter is incorrect"},
        {DISP_E_UNKNOWNINTERFACE, "Unknown interface"},
        {DISP_E_MEMBERNOTFOUND, "Member not found"},
        {DISP_E_PARAMNOTFOUND, "Parameter not found"},
        {DISP_E_TYPEMISMATCH, "Type mismatch"},
        {DISP_E_UNKNOWNNAME, "Unknown name"},
        {DISP_E_NONAMEDARGS, "Does not support named arguments"},
        {DISP_E_BADVARTYPE, "Bad variable type"},
        {DISP_E_EXCEPTION, "Exception occurred"},
        {DISP_E_OVERFLOW, "Out of present range"},
        {DISP_E_BADINDEX, "Invalid index"},
        {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
        {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional"},
        {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
        {CO_E_CLASSSTRING, "Invalid class string"},
        {MK_E_UNAVAILABLE, "Operation unavailable"},
        {CO_E_SERVER_EXEC_FAILURE, "Server execution failed"},
        {RPC_E_CALL_REJECTED, "Call was rejected by callee"},
        {RPC_E_SERVERFAULT, "The server threw an exception"},
        {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients"},
        {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable"},
        {RPC_S_CALL_FAILED, "The remote procedure call failed"},
    };
    for (const auto& entry : table)
        if (entry.code == code)
            return entry.text;
    return {};
}

std::string OleErrorText(HRESULT code) {
    std::string text = SysErrorMessage(code);
    if (text.empty()) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "OLE error %.8x", static_cast<uint32_t>(code));
        text = buffer;
    }
    return text;
}

} // namespace automation
