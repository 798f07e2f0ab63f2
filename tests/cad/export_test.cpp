// Saving the part as STEP and STL.
#include "bolt_steps.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <STEPControl_Reader.hxx>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path = fs::temp_directory_path() /
                    ("krepiks_export_" +
                     std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
};

} // namespace

TEST(Export, StepReadsBackAsTheSameSolid) {
    Folder folder;
    PartDocument doc(ShippedTemplate(), "Деталь1");
    std::string error;
    EXPECT_FALSE(doc.saveStep((folder.path / "empty.step").string(), &error));
    EXPECT_NE(error.find("no body"), std::string::npos);
    ASSERT_TRUE(BuildBolt(doc, WorkedExample()).chamfer);
    const std::string path = (folder.path / "bolt.step").string();
    ASSERT_TRUE(doc.saveStep(path, &error)) << error;
    STEPControl_Reader reader;
    ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    ASSERT_GT(reader.TransferRoots(), 0);
    GProp_GProps props;
    BRepGProp::VolumeProperties(reader.OneShape(), props);
    EXPECT_NEAR(props.Mass(), doc.volume(), 1e-6 * doc.volume()) << "millimetres both ways";
    EXPECT_FALSE(doc.saveStep((folder.path / "no" / "such" / "dir.step").string(), &error));
}

TEST(Export, StepCarriesTheTemplatesUnit) {
    Folder folder;
    // The same 20 mm cube modelled in metres and in millimetres reads back the same.
    for (const char* unit : {"m", "mm", "in"}) {
        SCOPED_TRACE(unit);
        auto t = ParsePartTemplate(std::string("krepiks-part 1\nunit ") + unit +
                                   "\nplane \"P\" origin 0 0 0 normal 0 0 1 xdir 1 0 0\n");
        ASSERT_TRUE(t);
        PartDocument doc(*t, "cube");
        doc.insertSketch();
        ASSERT_TRUE(doc.createPolygon(0, 0, 0, 0.01, 0, 0, 4, false));
        ExtrusionParams p;
        p.depth = 0.02;
        ASSERT_TRUE(doc.featureExtrusion(p));
        const std::string path = (folder.path / (std::string(unit) + ".step")).string();
        ASSERT_TRUE(doc.saveStep(path));
        STEPControl_Reader reader; // reads into millimetres
        ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
        reader.TransferRoots();
        GProp_GProps props;
        BRepGProp::VolumeProperties(reader.OneShape(), props);
        EXPECT_NEAR(props.Mass(), 8000, 1e-6);
    }
}

TEST(Export, StlIsABinaryMeshOfTheBody) {
    Folder folder;
    PartDocument doc(ShippedTemplate(), "Деталь1");
    ASSERT_TRUE(BuildBolt(doc, WorkedExample()).chamfer);
    const std::string path = (folder.path / "bolt.stl").string();
    std::string error;
    ASSERT_TRUE(doc.saveStl(path, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 84u);
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_GT(count, 100u);
    EXPECT_EQ(bytes.size(), 84u + 50u * count);
    // The same triangles the window shows; their signed volume is the body's.
    const MeshData& mesh = doc.mesh();
    EXPECT_EQ(mesh.triangles.size(), count);
    double volume = 0;
    for (const auto& t : mesh.triangles) {
        const auto& a = mesh.positions[t[0]];
        const auto& b = mesh.positions[t[1]];
        const auto& c = mesh.positions[t[2]];
        volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                   a[2] * (b[0] * c[1] - b[1] * c[0])) /
                  6.0;
    }
    EXPECT_NEAR(volume, doc.volume(), 5e-3 * doc.volume()) << "outward triangles";
    EXPECT_FALSE(mesh.edges.empty());
}
