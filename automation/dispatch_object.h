#pragma once
// Server side of the automation runtime: a base for automation objects. A server declares
// its members by name with a handler each; the base answers GetIDsOfNames and Invoke the
// way a standard COM dispatch implementation does, so handlers only do the member's work.
//
//   class Browser : public automation::DispatchObject {
//   public:
//       Browser() {
//           addProperty(u"Visible",
//                       [this](const DispatchArgs&) { return Variant::fromBool(visible_); },
//                       [this](const DispatchArgs& args) { visible_ = args.asBool(0); });
//           addMethod(u"Navigate", 1, 5, [this](const DispatchArgs& args) {
//               if (args.asBStr(0).str().empty())
//                   throw ServerException("No address");
//               url_ = args.asBStr(0).str();
//           });
//       }
//   };
//   automation::DispatchPtr browser(new Browser); // the count starts at 0; ComPtr adds the first
//
// Rules the base applies, in this order, before a handler runs:
// - after disconnect(), every GetIDsOfNames and Invoke fails with the code given there;
// - names are matched without regard to case (ASCII and Cyrillic letters), as COM does;
//   an unknown name gives DISP_E_UNKNOWNNAME (and DISPID_UNKNOWN);
// - an unknown DISPID gives DISP_E_MEMBERNOTFOUND;
// - onCall() sees the call (any kind, any argument count) once the member is known;
// - DISPATCH_PROPERTYPUT needs a setter, the one named argument DISPID_PROPERTYPUT
//   (else DISP_E_PARAMNOTFOUND) and exactly one value (else DISP_E_BADPARAMCOUNT);
//   the setter sees the value as argument 0;
// - otherwise named arguments give DISP_E_NONAMEDARGS; a method answers DISPATCH_METHOD and a
//   property getter DISPATCH_PROPERTYGET, and either answers the combined
//   DISPATCH_METHOD | DISPATCH_PROPERTYGET; any other kind gives DISP_E_MEMBERNOTFOUND;
// - an argument count outside [minArgs, maxArgs] gives DISP_E_BADPARAMCOUNT.
// Handlers receive the arguments in the order the caller wrote them (COM's reversed order is
// undone). A handler fails a call by throwing DispatchError (a plain HRESULT, e.g. from the
// typed accessors: DISP_E_TYPEMISMATCH naming the argument) or ServerException (the server's
// own error, reported to the client as DISP_E_EXCEPTION with the description). Any other
// std::exception becomes DISP_E_EXCEPTION with its what() as the description.
#include "automation/automation.h"

#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace automation {

// A handler's failure with a plain HRESULT; argument is the (caller-order) index of the
// argument at fault, if any.
class DispatchError : public std::exception {
public:
    explicit DispatchError(HRESULT code, std::optional<size_t> argument = std::nullopt)
        : code_(code), argument_(argument) {}
    HRESULT code() const noexcept { return code_; }
    std::optional<size_t> argument() const noexcept { return argument_; }
    const char* what() const noexcept override { return "automation dispatch error"; }

private:
    HRESULT code_;
    std::optional<size_t> argument_;
};

// The server's own error: the client sees DISP_E_EXCEPTION and this description (UTF-8).
class ServerException : public std::exception {
public:
    explicit ServerException(std::string description, std::string source = {},
                             HRESULT scode = E_FAIL)
        : description_(std::move(description)), source_(std::move(source)), scode_(scode) {}
    const std::string& description() const noexcept { return description_; }
    const std::string& source() const noexcept { return source_; }
    HRESULT scode() const noexcept { return scode_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string description_;
    std::string source_;
    HRESULT scode_;
};

// The arguments of one call, in the caller's order.
class DispatchArgs {
public:
    explicit DispatchArgs(std::vector<Variant> inOrder) : args_(std::move(inOrder)) {}

    size_t size() const { return args_.size(); }
    bool has(size_t i) const { return i < args_.size(); }
    // The raw value; an empty value past the end (an omitted optional argument).
    const Variant& operator[](size_t i) const;
    const std::vector<Variant>& all() const { return args_; }

    // Coercing accessors. They throw DispatchError(DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW, i)
    // when the value does not convert, and DispatchError(DISP_E_PARAMNOTOPTIONAL, i) when the
    // argument is missing. References are followed.
    double asDouble(size_t i) const;
    int32_t asInt(size_t i) const;
    bool asBool(size_t i) const;
    BStr asBStr(size_t i) const;
    DispatchPtr asDispatch(size_t i) const;

private:
    std::vector<Variant> args_;
};

class DispatchObject : public RefCounted<IDispatch> {
public:
    using Handler = std::function<Variant(const DispatchArgs&)>;

    HRESULT GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) override;
    HRESULT Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params, Variant* result,
                   EXCEPINFO* excepInfo, uint32_t* argErr) override;

    // From now on every call fails with code, as the proxy of a server that has gone away.
    void disconnect(HRESULT code = RPC_S_SERVER_UNAVAILABLE) { disconnected_ = code; }
    bool disconnected() const { return disconnected_.has_value(); }

    // The member names in declaration order; DISPID n is names()[n - 1].
    std::vector<std::u16string> names() const;

    // The member's type information: one PARAMFLAG_ value per parameter in the caller's
    // order, or null when it declares none (a caller must then assume that any by-reference
    // value may come back changed).
    const std::vector<uint16_t>* parameterFlags(DISPID dispid) const;

protected:
    DispatchObject() = default;
    ~DispatchObject() override;

    // A method with a fixed number of arguments, or between minArgs and maxArgs (optional
    // trailing arguments may be omitted). The handler may return a Variant or nothing.
    template <class F> void addMethod(std::u16string name, size_t argCount, F handler) {
        addMethod(std::move(name), argCount, argCount, std::move(handler));
    }
    template <class F>
    void addMethod(std::u16string name, size_t minArgs, size_t maxArgs, F handler) {
        addMember(std::move(name), DISPATCH_METHOD, minArgs, maxArgs, wrap(std::move(handler)),
                  nullptr);
    }
    // A property with no index arguments: a getter, and a setter if it can be written.
    template <class G> void addProperty(std::u16string name, G getter) {
        addMember(std::move(name), DISPATCH_PROPERTYGET, 0, 0, wrap(std::move(getter)), nullptr);
    }
    template <class G, class S> void addProperty(std::u16string name, G getter, S setter) {
        addMember(std::move(name), DISPATCH_PROPERTYGET, 0, 0, wrap(std::move(getter)),
                  wrap(std::move(setter)));
    }

    // Declares what member does with each parameter (caller's order); by-reference values
    // of PARAMFLAG_FIN parameters are only read.
    void setParameterFlags(const std::u16string& member, std::vector<uint16_t> flags);

    // Sees every call to a known member before any check, e.g. for a recording server.
    // flags is the kind the client asked for; args are in the caller's order (a put's value
    // is the last one).
    virtual void onCall(const std::u16string& member, uint16_t flags, const DispatchArgs& args);

private:
    struct Member {
        std::u16string name;
        std::u16string key; // case-folded
        uint16_t callFlags; // DISPATCH_METHOD or DISPATCH_PROPERTYGET
        size_t minArgs;
        size_t maxArgs;
        Handler call;
        Handler put;
        std::optional<std::vector<uint16_t>> parameterFlags;
    };

    template <class F> static Handler wrap(F f) {
        if constexpr (std::is_void_v<std::invoke_result_t<F&, const DispatchArgs&>>)
            return [f = std::move(f)](const DispatchArgs& args) mutable {
                f(args);
                return Variant();
            };
        else
            return Handler(std::move(f));
    }
    void addMember(std::u16string name, uint16_t callFlags, size_t minArgs, size_t maxArgs,
                   Handler call, Handler put);

    std::vector<Member> members_;
    std::optional<HRESULT> disconnected_;
};

// Member names compare like this: ASCII and Cyrillic letters without regard to case.
std::u16string FoldMemberName(const std::u16string& name);

// Whether whoever made the call being served on this thread takes its outcome now. Calls in
// this program always are waited on; a transport that carries a call its caller goes on
// from (one of a run of posted calls that more follow before the caller looks at their
// outcome) serves it inside an UnawaitedCall, so that a server may leave work the call
// started to finish until a call that is waited on.
bool CallerWaits();

class UnawaitedCall {
public:
    UnawaitedCall();
    ~UnawaitedCall();
    UnawaitedCall(const UnawaitedCall&) = delete;
    UnawaitedCall& operator=(const UnawaitedCall&) = delete;
};

} // namespace automation
