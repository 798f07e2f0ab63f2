#include "automation/trace.h"
#include "automation/trace_reader.h"
#include "model/solidworks.h"
#include "platform/exception.h"
#include "recording_cad.h"
#include "script_expectations.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace krepiks;
using namespace krepiks::test;
using namespace automation;
using automation::trace::TracedCall;

namespace {

class BuildTrace : public ::testing::Test {
protected:
    void SetUp() override {
        path = (std::filesystem::temp_directory_path() /
                ("krepiks-build-trace-" + std::to_string(::getpid()) + ".jsonl"))
                   .string();
        std::filesystem::remove(path);
        ::setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
        trace::Reload();
        Bolt = ExampleBolt();
    }
    void TearDown() override {
        ReleaseSolidWorks();
        ::unsetenv("KREPIKS_AUTOMATION_TRACE");
        trace::Reload();
        std::filesystem::remove(path);
    }

    std::vector<std::string> rawLines() const {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string path;
    RecordingCad cad;
};

uint16_t FlagsOf(CallKind kind) {
    return CallKindFlags(kind);
}

// Empty when the traced argument says what the server received.
std::string Compare(const trace::TracedArg& traced, const Variant& sent, double referenced) {
    if (traced.type != trace::TypeName(sent))
        return "type " + traced.type + " for " + Describe(sent);
    bool same = true;
    switch (sent.vt()) {
    case VT_I4:
        same = traced.integer() == sent.intVal();
        break;
    case VT_R8:
        same = traced.number() == sent.dblVal(); // exact: 17 digits read back
        break;
    case VT_CY:
        same = traced.integer() == sent.cyVal().int64;
        break;
    case VT_BOOL:
        same = traced.boolean() == (sent.boolVal() != 0);
        break;
    case VT_BSTR:
        same = traced.isNull() == sent.bstrVal().isNull() &&
               traced.text() == toUtf8(sent.bstrVal().str());
        break;
    case VT_BYREF | VT_R8:
        same = traced.number() == referenced;
        break;
    case VT_BYREF | VT_DISPATCH:
        same = traced.isNull() && *sent.ppdispVal() == nullptr;
        break;
    default:
        break;
    }
    return same ? "" : "value differs for " + Describe(sent);
}

} // namespace

TEST_F(BuildTrace, LinesMatchWhatTheServerReceived) {
    BuildModel(Bolt);
    const auto lines = rawLines();
    ASSERT_EQ(lines.size(), 350u);
    EXPECT_EQ(lines[0], R"({"object": 1, "member": "Visible", "kind": "put", "args": [{"type": )"
                        R"("bool", "value": true}], "result": "empty"})");
    EXPECT_EQ(lines[1], R"({"object": 1, "member": "NewDocument", "kind": "method", "args": [)"
                        R"({"type": "str", "value": "C:\\Шаблоны\\Деталь.prtdot"}, {"type": )"
                        R"("int", "value": 0}, {"type": "int", "value": 0}, {"type": "int", )"
                        R"("value": 0}], "result": "disp"})");

    const std::vector<TracedCall> traced = trace::ReadTrace(path);
    ASSERT_EQ(traced.size(), cad.calls.size());
    std::map<long, long> serverOf, traceOf;
    for (size_t i = 0; i < traced.size(); ++i) {
        const TracedCall& t = traced[i];
        const RecordedCall& r = cad.calls[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + " " + r.member);
        ASSERT_TRUE(t.object.has_value());
        // One number per server object, and one object per number.
        EXPECT_EQ(serverOf.try_emplace(*t.object, r.object).first->second, r.object);
        EXPECT_EQ(traceOf.try_emplace(r.object, *t.object).first->second, *t.object);
        EXPECT_EQ(t.member, r.member);
        EXPECT_EQ(FlagsOf(t.kind), r.flags);
        EXPECT_FALSE(t.failed());
        ASSERT_EQ(t.args.size(), r.args.size());
        size_t ref = 0;
        for (size_t k = 0; k < r.args.size(); ++k) {
            const bool byRef = r.args[k].vt() == (VT_BYREF | VT_R8);
            EXPECT_EQ(Compare(t.args[k], r.args[k], byRef ? r.referenced[ref++] : 0), "")
                << "argument " << k + 1;
        }
        const bool objectResult =
            (r.args.empty() && r.member != "ViewZoomtofit2" && r.member != "Quit") ||
            r.member == "NewDocument" || r.member == "FeatureRevolve";
        EXPECT_EQ(t.result, objectResult ? "disp" : "empty");
    }
    // Numbered from 1 in order of first appearance; the server makes its objects in the same
    // order, though not every object it makes reaches the client.
    EXPECT_EQ(serverOf.begin()->first, 1);
    long previous = 0;
    for (const auto& [number, object] : serverOf) {
        EXPECT_GT(object, previous) << "object " << number;
        previous = object;
    }
}

TEST_F(BuildTrace, FailedCallCarriesItsError) {
    cad.raiseAt = "FeatureExtrusion";
    EXPECT_THROW(BuildModel(Bolt), EOleException);
    const std::vector<TracedCall> traced = trace::ReadTrace(path);
    ASSERT_EQ(traced.size(), 2u + 107u);
    EXPECT_EQ(traced.back().member, "FeatureExtrusion");
    ASSERT_TRUE(traced.back().failed());
    EXPECT_EQ(*traced.back().error, "Ошибка построения");
    EXPECT_FALSE(traced.back().result.has_value());
    EXPECT_EQ(traced.back().args.size(), 20u);
    EXPECT_EQ(traced.back().args[6].type, "cur");
    EXPECT_EQ(traced.back().args[6].integer(), 100);
}
