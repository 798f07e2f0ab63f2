#include "automation/dispatch_object.h"
#include "automation/trace.h"
#include "automation/trace_reader.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace automation;
using namespace automation::trace;

namespace {

// Accepts any call and answers with a fresh object or nothing.
struct Echo : DispatchObject {
    Echo() {
        addMethod(u"Take", 0, 20, [](const DispatchArgs&) {});
        addMethod(u"Make", 0,
                  [](const DispatchArgs&) { return Variant::fromDispatch(DispatchPtr(new Echo)); });
        addProperty(
            u"Visible", [](const DispatchArgs&) { return Variant::fromBool(true); },
            [](const DispatchArgs&) {});
        addMethod(u"Fail", 0, [](const DispatchArgs&) { throw ServerException("Нет \"детали\""); });
    }
};

class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        path = (std::filesystem::temp_directory_path() /
                ("krepiks-trace-" + std::to_string(::getpid()) + ".jsonl"))
                   .string();
        std::filesystem::remove(path);
        ::setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
        Reload();
    }
    void TearDown() override {
        ::unsetenv("KREPIKS_AUTOMATION_TRACE");
        Reload();
        std::filesystem::remove(path);
    }
    std::vector<std::string> lines() const {
        std::ifstream in(path);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }
    std::string path;
};

} // namespace

TEST_F(Trace, EveryArgumentTypeInCallerOrder) {
    DispatchPtr echo(new Echo);
    DispatchPtr other(new Echo);
    double point = 0.006;
    IDispatch* none = nullptr;
    ASSERT_TRUE(DispatchInvoke(echo.get(), u"Take", CallKind::Method,
                               {Variant::fromInt(-7), Variant::fromDouble(0.1),
                                Variant::fromCurrency(CY{-20}), Variant::fromBool(false),
                                Variant::fromBStr(u"Эскиз1 \"a\"\\"), Variant::fromBStr(BStr()),
                                Variant::fromDispatch(other), Variant::byRefDouble(&point),
                                Variant::byRefDispatch(&none), Variant()},
                               nullptr)
                    .ok());
    const auto text = lines();
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0],
              R"({"object": 1, "member": "Take", "kind": "method", "args": [)"
              R"({"type": "int", "value": -7}, {"type": "dbl", "value": 0.10000000000000001}, )"
              R"({"type": "cur", "value": -20}, {"type": "bool", "value": false}, )"
              R"({"type": "str", "value": "Эскиз1 \"a\"\\"}, {"type": "str", "value": null}, )"
              R"({"type": "disp", "value": 2}, {"type": "&dbl", "value": 0.0060000000000000001}, )"
              R"({"type": "&disp", "value": null}, {"type": "empty", "value": null}], )"
              R"("result": "empty"})");
}

TEST_F(Trace, KindsResultsErrorsAndObjectNumbers) {
    DispatchPtr echo(new Echo);
    Variant made;
    ASSERT_TRUE(DispatchInvoke(echo.get(), u"Make", CallKind::MethodOrGet, {}, &made).ok());
    ASSERT_TRUE(DispatchInvoke(made.dispVal().get(), u"Visible", CallKind::Put,
                               {Variant::fromBool(true)}, nullptr)
                    .ok());
    Variant visible;
    ASSERT_TRUE(DispatchInvoke(echo.get(), u"Visible", CallKind::Get, {}, &visible).ok());
    EXPECT_FALSE(DispatchInvoke(echo.get(), u"Missing", CallKind::Method, {}, nullptr).ok());
    EXPECT_FALSE(DispatchInvoke(echo.get(), u"Fail", CallKind::Method, {}, nullptr).ok());

    const auto calls = ReadTrace(path);
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].object, 1);
    EXPECT_EQ(calls[0].kind, CallKind::MethodOrGet);
    EXPECT_EQ(calls[0].result, "disp");
    EXPECT_EQ(calls[1].object, 2); // the result of the first call
    EXPECT_EQ(calls[1].kind, CallKind::Put);
    ASSERT_EQ(calls[1].args.size(), 1u);
    EXPECT_TRUE(calls[1].args[0].boolean());
    EXPECT_EQ(calls[2].kind, CallKind::Get);
    EXPECT_EQ(calls[2].result, "bool");
    EXPECT_EQ(calls[3].error, "Method 'Missing' not supported by automation object");
    EXPECT_FALSE(calls[3].result.has_value());
    EXPECT_EQ(calls[4].error, "Нет \"детали\"");
    EXPECT_EQ(lines()[1].substr(0, 50), R"({"object": 2, "member": "Visible", "kind": "put", )");
}

TEST_F(Trace, DoublesReadBackExactly) {
    DispatchPtr echo(new Echo);
    const double values[] = {
        0.1,  4.047502160935e-05,         -0.0009721099765148, 6.28318530718, 1e-300,
        -0.0, 0.0531459193145365 + 1e-17, 123456789.125};
    std::vector<Variant> args;
    for (double v : values)
        args.push_back(Variant::fromDouble(v));
    args.push_back(Variant::fromDouble(std::nan("")));
    args.push_back(Variant::fromDouble(-INFINITY));
    ASSERT_TRUE(DispatchInvoke(echo.get(), u"Take", CallKind::Method, args, nullptr).ok());
    const auto calls = ReadTrace(path);
    ASSERT_EQ(calls.size(), 1u);
    for (size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(calls[0].args[i].number(), values[i]) << i;
        EXPECT_EQ(std::signbit(calls[0].args[i].number()), std::signbit(values[i]));
        EXPECT_EQ(calls[0].args[i].toVariant().dblVal(), values[i]);
    }
    EXPECT_TRUE(std::isnan(calls[0].args[8].number()));
    EXPECT_EQ(calls[0].args[9].number(), -INFINITY);
}

TEST_F(Trace, DestroyedObjectsGiveUpTheirNumbers) {
    DispatchPtr echo(new Echo);
    for (int i = 0; i < 3; ++i) {
        Variant made;
        ASSERT_TRUE(DispatchInvoke(echo.get(), u"Make", CallKind::Method, {}, &made).ok());
        ASSERT_TRUE(
            DispatchInvoke(made.dispVal().get(), u"Take", CallKind::Method, {}, nullptr).ok());
    } // each made object dies here, and the next may reuse its address
    const auto calls = ReadTrace(path);
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[1].object, 2);
    EXPECT_EQ(calls[3].object, 3);
    EXPECT_EQ(calls[5].object, 4);
}

TEST(TraceOff, NothingIsWrittenAndCallsStillWork) {
    ::unsetenv("KREPIKS_AUTOMATION_TRACE");
    Reload();
    EXPECT_FALSE(Enabled());
    // A path that cannot be opened turns tracing off instead of failing calls.
    ::setenv("KREPIKS_AUTOMATION_TRACE", "/nonexistent-folder/trace.jsonl", 1);
    Reload();
    EXPECT_FALSE(Enabled());
    DispatchPtr echo(new Echo);
    EXPECT_TRUE(DispatchInvoke(echo.get(), u"Take", CallKind::Method, {}, nullptr).ok());
    ::unsetenv("KREPIKS_AUTOMATION_TRACE");
    Reload();
}

TEST(TraceReader, ValuesAndEscapes) {
    const TracedCall call = ParseTraceLine(
        R"({"object": 3, "member": "\u0421\u0432\u0435\u0440\u0445\u0443 \ud83d\udd29", )"
        R"("kind": "method", "args": [{"type": "cur", "value": 30}, {"type": "int", "value": 20},)"
        R"( {"type": "str", "value": "a\nb"}, {"type": "disp", "value": null}, )"
        R"({"type": "&dbl", "value": 1e-05}], "result": "empty"})");
    EXPECT_EQ(call.member, "Сверху \xF0\x9F\x94\xA9");
    ASSERT_EQ(call.args.size(), 5u);
    EXPECT_EQ(call.args[0].toVariant().cyVal().int64, 30);
    EXPECT_DOUBLE_EQ(call.args[0].number(), 0.003);
    EXPECT_EQ(call.args[1].toVariant().vt(), VT_I4);
    EXPECT_EQ(call.args[2].text(), "a\nb");
    EXPECT_TRUE(call.args[3].isNull());
    EXPECT_FALSE(call.args[3].isValueType());
    EXPECT_THROW(call.args[3].toVariant(), std::logic_error);
    EXPECT_EQ(call.args[4].number(), 1e-05);
    const TracedCall nullText = ParseTraceLine(
        R"({"object": 1, "member": "S", "kind": "get", "args": [{"type": "str", "value": null}], "error": "x"})");
    EXPECT_TRUE(nullText.args[0].toVariant().bstrVal().isNull());
}

TEST(TraceReader, MalformedLinesAreRefused) {
    const char* bad[] = {
        "",
        "[1]",
        R"({"object": 1, "member": "A", "kind": "method", "args": []})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [], "result": "empty", "error": "e"})",
        R"({"object": 1, "member": "A", "kind": "call", "args": [], "result": "empty"})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [{"type": "int", "value": 1.5}], "result": "empty"})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [{"type": "long", "value": 1}], "result": "empty"})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [{"type": "bool", "value": 1}], "result": "empty"})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [], "result": "empty"} x)",
        R"({"object": 1, "member": "A\q", "kind": "method", "args": [], "result": "empty"})",
        R"({"object": 1, "member": "A", "kind": "method", "args": [], "result": "empty")",
    };
    for (const char* line : bad)
        EXPECT_THROW(ParseTraceLine(line), TraceFormatError) << line;

    const std::string file = (std::filesystem::temp_directory_path() /
                              ("krepiks-bad-trace-" + std::to_string(::getpid())))
                                 .string();
    {
        std::ofstream out(file);
        out << R"({"object": 1, "member": "A", "kind": "method", "args": [], "result": "empty"})"
            << "\n\n{oops}\n";
    }
    try {
        ReadTrace(file);
        ADD_FAILURE() << "read a broken trace";
    } catch (const TraceFormatError& error) {
        EXPECT_EQ(error.line(), 3u);
    }
    std::filesystem::remove(file);
    EXPECT_THROW(ReadTrace(file), TraceFormatError);
}
