#include "model/solidworks.h"
#include "platform/exception.h"
#include "recording_cad.h"
#include "script_expectations.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace krepiks;
using namespace krepiks::test;
using automation::DISPATCH_METHOD;
using automation::DISPATCH_PROPERTYGET;
using automation::DISPATCH_PROPERTYPUT;

namespace {

class Build : public ::testing::Test {
protected:
    void SetUp() override { Bolt = ExampleBolt(); }
    void TearDown() override { ReleaseSolidWorks(); }

    automation::IDispatch* held() const { return SolidWorksApp.dispVal().get(); }

    RecordingCad cad;
};

std::map<std::string, int> MemberCounts(const std::vector<RecordedCall>& calls) {
    std::map<std::string, int> counts;
    for (const auto& call : calls)
        ++counts[call.member];
    return counts;
}

std::vector<std::string> RotationKinds(const std::vector<RecordedCall>& calls, size_t from,
                                       size_t to) {
    std::vector<std::string> kinds;
    for (size_t i = from; i < to; ++i)
        if (calls[i].member == "RotateAboutCenter")
            kinds.push_back(RotationKind(calls[i]));
    return kinds;
}

} // namespace

TEST_F(Build, CompleteBuildSendsTheWholeScript) {
    BuildModel(Bolt);

    ASSERT_GE(cad.calls.size(), 2u);
    const RecordedCall& visible = cad.calls[0];
    EXPECT_EQ(visible.member, "Visible");
    EXPECT_EQ(visible.flags, DISPATCH_PROPERTYPUT);
    ASSERT_EQ(visible.args.size(), 1u);
    EXPECT_EQ(Describe(visible.args[0]), "bool true");
    const RecordedCall& newDocument = cad.calls[1];
    EXPECT_EQ(newDocument.member, "NewDocument");
    EXPECT_EQ(newDocument.flags, DISPATCH_METHOD);
    ASSERT_EQ(newDocument.args.size(), 4u);
    EXPECT_EQ(Describe(newDocument.args[0]), "str C:\\Шаблоны\\Деталь.prtdot");
    EXPECT_EQ(Describe(newDocument.args[1]), "int 0");
    EXPECT_EQ(Describe(newDocument.args[2]), "int 0");
    EXPECT_EQ(Describe(newDocument.args[3]), "int 0");
    EXPECT_EQ(visible.object, newDocument.object);

    const std::vector<RecordedCall> calls = cad.buildCalls(0);
    ASSERT_EQ(calls.size(), 348u);
    EXPECT_EQ(MemberCounts(calls), ExpectedMemberCounts());
    const std::vector<ExpectedCall> expected = ExpectedScript();
    ASSERT_EQ(expected.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(Mismatch(calls[i], expected[i]), "") << "call " << i + 1;

    // Object getters are asked for their result; everything else is a plain method call.
    for (const auto& call : calls) {
        const bool getter = call.args.empty() && call.member != "ViewZoomtofit2";
        EXPECT_EQ(call.flags, getter ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD)
            << call.member;
    }
    // Every call is made on the one document or on a manager or view fetched anew for it.
    const std::map<std::string, std::string> roles = {{"RotateAboutCenter", "view"},
                                                      {"InsertSketch", "sketch"},
                                                      {"CreateLine", "sketch"},
                                                      {"CreatePolygon", "sketch"},
                                                      {"SelectByID2", "extension"},
                                                      {"FeatureRevolve", "features"},
                                                      {"FeatureExtrusion", "features"},
                                                      {"FeatureRevolveCut", "features"},
                                                      {"EnableContourSelection", "selection"}};
    std::set<long> used;
    for (const auto& call : calls) {
        if (call.role == "document") {
            EXPECT_EQ(call.object, calls[0].object);
            continue;
        }
        EXPECT_EQ(call.role, roles.at(call.member));
        EXPECT_TRUE(used.insert(call.object).second) << call.member << " on a reused object";
    }
    EXPECT_EQ(cad.clientReferences(false), 0);
    EXPECT_EQ(held(), cad.application(0));
}

TEST_F(Build, RotationSeriesInTheirOrder) {
    BuildModel(Bolt);
    const std::vector<RecordedCall> calls = cad.buildCalls(0);
    size_t revolve = 0, pick = 0, closing = 0, axis = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].member == "FeatureRevolve")
            revolve = i;
        if (calls[i].member == "SelectByID2" && !pick && revolve)
            pick = i;
        if (calls[i].member == "InsertSketch")
            closing = i;
        if (calls[i].member == "SelectByID2" && Describe(calls[i].args[0]) == "str Ось1" && !axis)
            axis = i;
    }
    const auto a = RotationKinds(calls, revolve, pick);
    EXPECT_EQ(Runs(a), "Y1x5 Y2 Y1x6 Y2 X1 Y1x11 XY Y2 Y1x6");
    const auto b = RotationKinds(calls, closing, axis);
    EXPECT_EQ(Runs(b), "X1x2 X2 X1 X2 X1x7 X2 X1x3 X2x2 X1x4 X2 X1 X2 X1 X2x5 "
                       "X3 X1 X2 X1 X2 X1x2 X2x2 X1x2 X2 X1 X2 X1 X2 X1x2 X2 X1x3 "
                       "X2 X1x7 X2x2 X1x7 X2 X1x2 X2 X1 X2x2 X1x9 X2 Y1 X1x12");

    const auto sums = [&](size_t from, size_t to) {
        double first = 0, second = 0;
        for (size_t i = from; i < to; ++i) {
            if (calls[i].member != "RotateAboutCenter")
                continue;
            double v = 0;
            calls[i].args[0].toDouble(&v), first += v;
            calls[i].args[1].toDouble(&v), second += v;
        }
        return std::pair{first, second};
    };
    EXPECT_NEAR(sums(revolve, pick).first, 0.010316410590366, 1e-15);
    EXPECT_NEAR(sums(revolve, pick).second, 0.283321546059942, 1e-14);
    EXPECT_NEAR(sums(closing, axis).first, 0.66540848307872, 1e-14);
    EXPECT_NEAR(sums(closing, axis).second, 0.0, 1e-15);
    // Series B is followed by one more view fetch without a rotation.
    EXPECT_EQ(calls[axis - 4].member, "ActiveView");
    EXPECT_EQ(calls[axis - 5].member, "RotateAboutCenter");
}

TEST_F(Build, ShankLinesPassReferencesIntoThePoints) {
    BuildModel(Bolt);
    const std::vector<RecordedCall> calls = cad.buildCalls(0);
    std::vector<const RecordedCall*> lines;
    for (const auto& call : calls)
        if (call.member == "CreateLine" && lines.size() < 8)
            lines.push_back(&call);
    ASSERT_EQ(lines.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        const auto& args = lines[i]->args;
        const auto& from = Bolt.Points[i];
        const auto& to = Bolt.Points[(i + 1) % 8];
        EXPECT_EQ(args[0].pdblVal(), &from.x) << i;
        EXPECT_EQ(args[1].pdblVal(), &from.y) << i;
        EXPECT_EQ(args[3].pdblVal(), &to.x) << i;
        EXPECT_EQ(args[4].pdblVal(), &to.y) << i;
    }
    // The values seen by the server are the metres of the derived profile.
    EXPECT_NEAR(lines[3]->referenced[2], 0.0531459193145365, 1e-16);
    EXPECT_NEAR(lines[4]->referenced[0], 0.0531459193145365, 1e-16);
    EXPECT_EQ(lines[4]->referenced[0], Bolt.Points[4].x);
}

TEST_F(Build, SecondBuildSendsAnIdenticalScriptToANewInstance) {
    BuildModel(Bolt);
    BuildModel(Bolt);
    EXPECT_EQ(cad.creationAttempts, 2);
    EXPECT_EQ(held(), cad.application(1));
    const auto first = cad.buildCalls(0);
    const auto second = cad.buildCalls(1);
    ASSERT_EQ(first.size(), 348u);
    ASSERT_EQ(second.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_EQ(second[i].member, first[i].member) << i;
        EXPECT_EQ(second[i].flags, first[i].flags);
        ASSERT_EQ(second[i].args.size(), first[i].args.size());
        for (size_t k = 0; k < first[i].args.size(); ++k)
            EXPECT_EQ(Describe(second[i].args[k]), Describe(first[i].args[k]))
                << first[i].member << " argument " << k + 1;
        EXPECT_EQ(second[i].referenced, first[i].referenced);
    }
    // The first instance is released, and nothing more is done to it.
    EXPECT_EQ(cad.clientReferences(true), 1);
}

TEST_F(Build, AttachesWhenCreationFails) {
    cad.failCreation();
    cad.announceRunning();
    BuildModel(Bolt);
    EXPECT_EQ(cad.creationAttempts, 1);
    EXPECT_EQ(held(), cad.application(0));
    EXPECT_EQ(cad.calls[0].member, "Visible");
    EXPECT_EQ(cad.buildCalls(0).size(), 348u);
    EXPECT_EQ(cad.clientReferences(false), 0);
}

// With nothing to attach to, "Operation unavailable" would hide what failed.
TEST_F(Build, CreationFailsAndNothingRunsReportsTheCreationsOwnError) {
    cad.failCreation();
    try {
        BuildModel(Bolt);
        FAIL() << "built without an application";
    } catch (const EOleSysError& error) {
        EXPECT_STREQ(error.what(), "Server execution failed: '/opt/cad' could not be started");
        EXPECT_EQ(error.errorCode(), automation::CO_E_SERVER_EXEC_FAILURE);
    }
    EXPECT_TRUE(SolidWorksApp.isEmpty());
    EXPECT_TRUE(cad.calls.empty());
}

TEST(BuildWithoutServer, ReportsInvalidClassString) {
    Bolt = ExampleBolt();
    try {
        BuildModel(Bolt);
        FAIL() << "built without an application";
    } catch (const EOleSysError& error) {
        EXPECT_STREQ(error.what(), "Invalid class string");
        EXPECT_EQ(error.errorCode(), automation::CO_E_CLASSSTRING);
    }
    EXPECT_TRUE(SolidWorksApp.isEmpty());
    // The geometry comes first, before any server is sought.
    EXPECT_DOUBLE_EQ(Bolt.Points[7].x, 0.06);
}

TEST_F(Build, ServerErrorAtTheExtrusionStopsTheBuildAndReleasesEverything) {
    cad.raiseAt = "FeatureExtrusion";
    try {
        BuildModel(Bolt);
        FAIL() << "the server error was lost";
    } catch (const EOleException& error) {
        EXPECT_STREQ(error.what(), "Ошибка построения");
        EXPECT_EQ(error.source(), "RecordingCad");
    }
    const auto calls = cad.buildCalls(0);
    ASSERT_EQ(calls.size(), 107u); // steps 1 to 17
    EXPECT_EQ(calls.back().member, "FeatureExtrusion");
    EXPECT_EQ(calls[calls.size() - 2].member, "FeatureManager");
    // Every per-build reference is gone: documents, views, managers and the held feature.
    EXPECT_GT(cad.objectCount(), 50u);
    EXPECT_EQ(cad.clientReferences(false), 0);
    EXPECT_EQ(cad.clientReferences(true), 1); // SolidWorksApp
    EXPECT_EQ(held(), cad.application(0));
}

TEST_F(Build, NoDocumentStopsAtTheNextCall) {
    cad.newDocumentReturnsNothing = true;
    try {
        BuildModel(Bolt);
        FAIL() << "built on no document";
    } catch (const EOleError& error) {
        EXPECT_STREQ(error.what(), "Variant does not reference an automation object");
    }
    ASSERT_EQ(cad.calls.size(), 2u);
    EXPECT_EQ(cad.calls[1].member, "NewDocument");
    EXPECT_EQ(cad.clientReferences(true), 1);
}

TEST_F(Build, EmptyTemplatePathTravelsAsTheNullText) {
    Bolt.TemplatePath.clear();
    BuildModel(Bolt);
    EXPECT_EQ(Describe(cad.calls[1].args[0]), "str null");
}

TEST_F(Build, CloseAsksTheApplicationToQuitAndKeepsTheReference) {
    BuildModel(Bolt);
    const size_t before = cad.calls.size();
    CloseSolidWorks();
    ASSERT_EQ(cad.calls.size(), before + 2);
    EXPECT_EQ(cad.calls[before].member, "Application");
    EXPECT_EQ(cad.calls[before].flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    EXPECT_EQ(cad.calls[before + 1].member, "Quit");
    EXPECT_EQ(cad.calls[before + 1].flags, DISPATCH_METHOD);
    EXPECT_TRUE(cad.calls[before + 1].args.empty());
    EXPECT_EQ(held(), cad.application(0));
    EXPECT_EQ(cad.clientReferences(true), 1);

    // The application has gone: each further Close reports it and changes nothing.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            CloseSolidWorks();
            FAIL() << "closed a program that has quit";
        } catch (const EOleSysError& error) {
            EXPECT_STREQ(error.what(), "The RPC server is unavailable");
            EXPECT_EQ(error.errorCode(), automation::RPC_S_SERVER_UNAVAILABLE);
        }
        EXPECT_EQ(held(), cad.application(0));
        EXPECT_EQ(cad.clientReferences(true), 1);
    }
    EXPECT_EQ(cad.calls.size(), before + 2);

    // Building again starts a new instance in place of the one that quit.
    BuildModel(Bolt);
    EXPECT_EQ(held(), cad.application(1));
    EXPECT_EQ(cad.buildCalls(1).size(), 348u);
}

TEST_F(Build, CloseBeforeAnyBuildHasNoObject) {
    EXPECT_THROW(
        {
            try {
                CloseSolidWorks();
            } catch (const EOleError& error) {
                EXPECT_STREQ(error.what(), "Variant does not reference an automation object");
                throw;
            }
        },
        EOleError);
}

TEST_F(Build, LeavingReleasesWithoutCalling) {
    BuildModel(Bolt);
    const size_t before = cad.calls.size();
    ReleaseSolidWorks();
    EXPECT_TRUE(SolidWorksApp.isEmpty());
    EXPECT_EQ(cad.calls.size(), before);
    EXPECT_EQ(cad.clientReferences(true), 0);
}
