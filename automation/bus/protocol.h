#pragma once
// The wire between an automation client and a local server on the session bus.
//
// A server program claims the well-known bus name of its ProgID (BusNameForProgId); owning
// that name is its entry in the running-object table. Its one object lives at ObjectPath
// with the interface Interface:
//
//   PeerAddress()                                     -> (s address)
//   CreateInstance()                                  -> (i hr, t handle)
//   GetActiveObject()                                 -> (i hr, t handle)
//   GetIDsOfNames(t handle, s name, u lcid)           -> (i hr, i dispid, aq parameterFlags)
//   InvokeAs(t handle, s name, i dispid, u lcid, q flags, b wantResult, t promise,
//            aq types, ax numbers, ad reals, aq text,   (the arguments, in COM's order)
//            ai namedArgs)
//       -> (i hr, aq types, ax numbers, ad reals, aq text,  (the result, then one value per
//                                                            argument: what came back by
//                                                            reference, empty otherwise)
//           q wCode, s source, s description, i scode,      (EXCEPINFO)
//           u argErr)                                       (NoArgError when not set)
//   PostRun(at handles, as names, ai dispids, au lcids, aq flags, ab wantResults,
//           at promises, au valueCounts,                    (one entry per call)
//           aq types, ax numbers, ad reals, aq text,        (every call's arguments in turn)
//           au namedCounts, ai namedArgs,
//           at releases, at releaseCounts,                  (Release, after the calls)
//           b awaited)
//       -> (ai hrs, aq types, ax numbers, ad reals, aq text, (each call's outcome and result)
//           q wCode, s source, s description, i scode)      (EXCEPINFO of the one that failed)
//   Resume()                                          no reply
//   Release(t handle, t count)                        no reply
//
// parameterFlags is the member's type information: a PARAMFLAG_ value per parameter in the
// caller's order, empty when the member has none. InvokeAs looks name up first when it is
// not empty (dispid is then not used). PostRun carries, in order and in one go, calls their
// client does not wait for, each as InvokeAs would: once one has failed, the server answers
// every call of that client (the rest of the run included) with E_SKIPPED until it hears
// Resume, so that nothing sent after the failure takes effect. awaited says that the client
// sends nothing more until the run's answer has come (it takes the outcomes now): the run's
// last call is then served as a waited call (see automation::CallerWaits), every other
// posted call as one the client goes on from. A promise handle other than 0
// (PromiseHandleBit set) names the call's result for the calls that follow: the object's own
// handle when it was an object, none otherwise (a call on it then answers E_NOOBJECT);
// Release ends the name.
//
// PeerAddress names a socket the server also listens on (empty when it has none), in a
// folder only its user can enter: the same object and interface answer there, one hop
// instead of the bus daemon's two. A client that reaches the server there makes its objects
// and calls there; the server names such a client by its connection and lets go of what
// it holds when the connection closes.
//
// Object references travel as handles: numbers the server gives out per client and keeps
// the object alive for. Every time a reply carries a handle, the client holds one more
// count of it; Release gives counts back, and the server lets go of the object when none
// are left. A client that leaves the bus gives back everything at once. Handle 0 is no
// object. A handle's top bits (from HandleClassShift) name its object's member table among
// those this server has given out, or NoHandleClass for none: objects with the same class
// there answer GetIDsOfNames alike, so a client asks once per class and name.
//
// A value is one entry in each of the four lists' logic, by type:
//   VT_EMPTY                 nothing
//   VT_I4, VT_CY, VT_BOOL    numbers: the integer, the ten-thousandths, -1 or 0
//   VT_R8                    reals
//   VT_BSTR                  numbers: the length in UTF-16 units, -1 for the null text;
//                            the units follow in text (so no character is lost)
//   VT_DISPATCH              numbers: the handle
//   VT_BYREF | VT_R8         reals: the referenced value
//   VT_BYREF | VT_DISPATCH   numbers: the handle of the referenced object
// types, numbers and reals have one entry per value; text holds the texts one after another.
#include "automation/automation.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <string>
#include <vector>

namespace automation::bus {

// A started server that gives up before claiming its name writes why into the file this
// variable names, if set (ReportStartFailure), for the client to say which program failed.
inline constexpr char StartReportVariable[] = "KREPIKS_AUTOMATION_START_REPORT";

inline constexpr char ObjectPath[] = "/org/krepiks/Automation";
inline constexpr char Interface[] = "org.krepiks.Automation";
inline constexpr char BusNamePrefix[] = "org.krepiks.Automation.";
inline constexpr uint32_t NoArgError = 0xFFFFFFFFu;
inline constexpr int HandleClassShift = 40;
inline constexpr uint64_t NoHandleClass = 0;
inline constexpr uint64_t MaxHandleClass = (uint64_t{1} << (62 - HandleClassShift)) - 1;
// Handles with this bit are the client's own (the top bit stays clear: handles also travel
// as signed numbers): it names the result of a call it sent
// without waiting (PostRun), so that it can call on that result before the answer is back.
inline constexpr uint64_t PromiseHandleBit = uint64_t{1} << 62;

inline constexpr uint64_t HandleClass(uint64_t handle) {
    return (handle & PromiseHandleBit) ? NoHandleClass : handle >> HandleClassShift;
}

// The well-known bus name of a ProgID: BusNamePrefix and the ProgID with ASCII letters made
// small (ProgIDs ignore case), dots turned into '_', and any other character other than a
// letter or digit written as '_' with four hex digits. "SldWorks.Application" is served as
// "org.krepiks.Automation.sldworks_application".
QString BusNameForProgId(const std::u16string& progId);

// One value as it crosses: the handle of an object is in number.
struct WireValue {
    uint16_t type = VT_EMPTY;
    int64_t number = 0;
    double real = 0;
    BStr text;
};

struct WireValues {
    QList<quint16> types;
    QList<qint64> numbers;
    QList<double> reals;
    QList<quint16> text;

    void append(const WireValue& value);
    void appendTo(QList<QVariant>& arguments) const;
};

// Reads four lists starting at arguments[at]. False when they are not four lists of the
// right kinds, their lengths disagree, a type is unknown, an integer is out of range or the
// text runs short or long.
bool ReadWireValues(const QList<QVariant>& arguments, qsizetype at, std::vector<WireValue>* out);

// Whether type information declared (one PARAMFLAG_ value per parameter, in the caller's
// order) marks every by-reference value of params as only read. Named arguments are not
// matched to parameters: with any, false.
bool ReferencesOnlyRead(const std::vector<uint16_t>& declared, const DISPPARAMS& params);

// Registers the list types with the bus layer; harmless to call again.
void RegisterWireTypes();

} // namespace automation::bus
