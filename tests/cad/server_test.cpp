// The automation face of the CAD stand-in: creation, the build script's calls, automation
// errors, and the end of an application.
#include "bolt_steps.h"
#include "cad/cad_server.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
using automation::CallKind;
using automation::DispatchPtr;
using automation::Variant;

namespace {

DispatchPtr Create() {
    automation::CLSID clsid;
    EXPECT_EQ(automation::CLSIDFromProgID(CadProgId, &clsid), automation::S_OK);
    DispatchPtr app;
    EXPECT_EQ(automation::CoCreateInstance(
                  clsid, nullptr,
                  automation::CLSCTX_INPROC_SERVER | automation::CLSCTX_LOCAL_SERVER, app.put()),
              automation::S_OK);
    return app;
}

automation::CallOutcome Try(automation::IDispatch* object, const std::u16string& member,
                            std::vector<Variant> args = {}, Variant* result = nullptr,
                            CallKind kind = CallKind::Method) {
    return automation::DispatchInvoke(object, member, kind, args, result);
}

class Server : public ::testing::Test {
protected:
    void SetUp() override { RegisterCadServer(); }
    void TearDown() override {
        if (auto running = RunningCadSession())
            running->quit();
        UnregisterCadServer();
    }
    const std::string templatePath = KREPIKS_PART_TEMPLATE;
};

} // namespace

TEST_F(Server, CreationJoinsTheRunningApplicationUntilItQuits) {
    DispatchPtr first = Create();
    DispatchPtr again = Create();
    EXPECT_EQ(first.get(), again.get());
    automation::CLSID clsid;
    automation::CLSIDFromProgID(CadProgId, &clsid);
    DispatchPtr active;
    ASSERT_EQ(automation::GetActiveObject(clsid, nullptr, active.put()), automation::S_OK);
    EXPECT_EQ(active.get(), first.get());

    Variant self;
    ASSERT_TRUE(Try(first.get(), u"Application", {}, &self).ok());
    EXPECT_EQ(self.dispVal().get(), first.get());

    // Two documents in one application.
    Variant doc1, doc2;
    const Variant path = Variant::fromBStr(automation::BStr(automation::fromUtf8(templatePath)));
    const Variant zero = Variant::fromInt(0);
    ASSERT_TRUE(Try(first.get(), u"NewDocument", {path, zero, zero, zero}, &doc1).ok());
    ASSERT_TRUE(Try(first.get(), u"NewDocument", {path, zero, zero, zero}, &doc2).ok());
    ASSERT_TRUE(doc1.dispVal() && doc2.dispVal());
    EXPECT_NE(doc1.dispVal().get(), doc2.dispVal().get());
    const auto session = RunningCadSession();
    ASSERT_EQ(session->documents().size(), 2u);
    EXPECT_EQ(session->documents()[1]->title(), "Деталь2");
    EXPECT_EQ(session->activeIndex(), 1);

    // Quit ends it; creation then starts a new application.
    ASSERT_TRUE(Try(self.dispVal().get(), u"Quit").ok());
    EXPECT_FALSE(session->alive());
    EXPECT_EQ(automation::GetActiveObject(clsid, nullptr, active.put()),
              automation::MK_E_UNAVAILABLE);
    DispatchPtr fresh = Create();
    EXPECT_NE(fresh.get(), first.get());
    Variant visible;
    ASSERT_TRUE(Try(fresh.get(), u"Visible", {}, &visible, CallKind::Get).ok());
    EXPECT_EQ(visible.boolVal(), automation::VARIANT_FALSE);
}

TEST_F(Server, EveryObjectOfAQuitApplicationAnswersAsGone) {
    DispatchPtr app = Create();
    const Variant path = Variant::fromBStr(automation::BStr(automation::fromUtf8(templatePath)));
    const Variant zero = Variant::fromInt(0);
    Variant part, sketches, view;
    ASSERT_TRUE(Try(app.get(), u"NewDocument", {path, zero, zero, zero}, &part).ok());
    ASSERT_TRUE(Try(part.dispVal().get(), u"SketchManager", {}, &sketches).ok());
    ASSERT_TRUE(Try(part.dispVal().get(), u"ActiveView", {}, &view).ok());
    ASSERT_TRUE(Try(app.get(), u"Quit").ok());
    const std::string gone = automation::OleErrorText(automation::RPC_E_DISCONNECTED);
    EXPECT_EQ(gone, "The object invoked has disconnected from its clients");
    for (auto* object :
         {app.get(), part.dispVal().get(), sketches.dispVal().get(), view.dispVal().get()}) {
        const auto outcome = Try(object, u"Quit");
        EXPECT_EQ(outcome.code, automation::RPC_E_DISCONNECTED);
        EXPECT_EQ(outcome.message, gone);
    }
    EXPECT_EQ(Try(sketches.dispVal().get(), u"InsertSketch", {Variant::fromBool(true)}).code,
              automation::RPC_E_DISCONNECTED);
    EXPECT_EQ(Try(app.get(), u"Visible", {Variant::fromBool(true)}, nullptr, CallKind::Put).code,
              automation::RPC_E_DISCONNECTED);
}

TEST_F(Server, WrongNamesCountsAndTypesAreAutomationErrors) {
    DispatchPtr app = Create();
    const Variant path = Variant::fromBStr(automation::BStr(automation::fromUtf8(templatePath)));
    const Variant zero = Variant::fromInt(0);
    Variant part, sketches;
    ASSERT_TRUE(Try(app.get(), u"NewDocument", {path, zero, zero, zero}, &part).ok());
    ASSERT_TRUE(Try(part.dispVal().get(), u"SketchManager", {}, &sketches).ok());
    auto* sm = sketches.dispVal().get();

    auto unknown = Try(part.dispVal().get(), u"CreateLine");
    EXPECT_EQ(unknown.failure, automation::CallOutcome::Failure::UnknownName);
    EXPECT_EQ(unknown.message, "Method 'CreateLine' not supported by automation object");
    EXPECT_EQ(Try(app.get(), u"NewDocument", {path}).code, automation::DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Try(sm, u"InsertSketch").code, automation::DISP_E_BADPARAMCOUNT);
    const Variant text = Variant::fromBStr(automation::BStr(u"x"));
    EXPECT_EQ(Try(sm, u"InsertSketch", {Variant::fromBool(true)}).code, automation::S_OK);
    EXPECT_EQ(Try(sm, u"CreateLine", {zero, zero, zero, text, zero, zero}).code,
              automation::DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Try(app.get(), u"NewDocument", {zero, zero, zero, text}).code,
              automation::DISP_E_TYPEMISMATCH);
    // A type error changes nothing: the open sketch has no line.
    const auto session = RunningCadSession();
    EXPECT_TRUE(session->activeDocument()->sketches()[0].lines.empty());
    // Numbers of every kind, and references to them, are accepted for coordinates.
    double x = 0.01;
    Variant line;
    ASSERT_TRUE(Try(sm, u"CreateLine",
                    {Variant::byRefDouble(&x), Variant::fromCurrency({30}), zero,
                     Variant::fromDouble(0.02), zero, zero},
                    &line)
                    .ok());
    EXPECT_TRUE(line.dispVal());
    const auto& l = session->activeDocument()->sketches()[0].lines.at(0);
    EXPECT_DOUBLE_EQ(l.start.X(), 10);
    EXPECT_DOUBLE_EQ(l.start.Y(), 3);
    // Visible is a property: a put needs exactly its one value.
    EXPECT_EQ(Try(app.get(), u"Visible", {zero, zero}, nullptr, CallKind::Put).code,
              automation::DISP_E_BADPARAMCOUNT);
    EXPECT_FALSE(Try(app.get(), u"Quit", {zero}).ok());
}

TEST_F(Server, UnusableTemplatesGiveNoDocument) {
    DispatchPtr app = Create();
    const auto dir = std::filesystem::temp_directory_path() / "krepiks_cad_templates";
    std::filesystem::create_directories(dir);
    const auto garbage = dir / "garbage.kprt";
    std::ofstream(garbage) << "krepiks-part 1\nunit furlong\n";
    const Variant zero = Variant::fromInt(0);
    for (const std::string& path :
         {std::string(), (dir / "missing.kprt").string(), dir.string(), garbage.string()}) {
        SCOPED_TRACE(path);
        Variant part;
        const auto outcome =
            Try(app.get(), u"NewDocument",
                {Variant::fromBStr(automation::BStr(automation::fromUtf8(path))), zero, zero, zero},
                &part);
        ASSERT_TRUE(outcome.ok());
        EXPECT_EQ(part.vt(), automation::VT_DISPATCH);
        EXPECT_FALSE(part.dispVal());
    }
    EXPECT_TRUE(RunningCadSession()->documents().empty());
    std::filesystem::remove_all(dir);
}

TEST_F(Server, FailingFeaturesReturnNothingAndChangeNothing) {
    DispatchPtr app = Create();
    const Variant path = Variant::fromBStr(automation::BStr(automation::fromUtf8(templatePath)));
    const Variant zero = Variant::fromInt(0);
    const Variant yes = Variant::fromBool(true), no = Variant::fromBool(false);
    Variant part, features, extension;
    ASSERT_TRUE(Try(app.get(), u"NewDocument", {path, zero, zero, zero}, &part).ok());
    ASSERT_TRUE(Try(part.dispVal().get(), u"FeatureManager", {}, &features).ok());
    ASSERT_TRUE(Try(part.dispVal().get(), u"Extension", {}, &extension).ok());
    Variant result;
    ASSERT_TRUE(Try(features.dispVal().get(), u"FeatureRevolve",
                    {Variant::fromDouble(6.28318530718), no, zero, zero, zero, yes, yes, yes},
                    &result)
                    .ok());
    EXPECT_EQ(result.vt(), automation::VT_DISPATCH);
    EXPECT_FALSE(result.dispVal());
    ASSERT_TRUE(Try(part.dispVal().get(), u"InsertAxis2", {yes}, &result).ok());
    EXPECT_EQ(result.boolVal(), automation::VARIANT_FALSE);
    ASSERT_TRUE(Try(extension.dispVal().get(), u"SelectByID2",
                    {Variant::fromBStr(automation::BStr(u"Ось1")),
                     Variant::fromBStr(automation::BStr(u"AXIS")), zero, zero, zero, no, zero,
                     Variant(), zero},
                    &result)
                    .ok());
    EXPECT_EQ(result.boolVal(), automation::VARIANT_FALSE);
    const auto doc = RunningCadSession()->activeDocument();
    EXPECT_TRUE(doc->body().IsNull());
    EXPECT_TRUE(doc->features().empty());
    EXPECT_TRUE(doc->axes().empty());
}
