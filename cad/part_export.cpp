#include "cad/part_geometry.h"

#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Writer.hxx>
#include <Standard_Failure.hxx>
#include <Standard_Version.hxx>
#if OCC_VERSION_HEX >= 0x070700
#include <StepData_StepModel.hxx>
#endif
#include <StlAPI_Writer.hxx>

namespace krepiks::cad {

namespace {

const char* StepUnit(const std::string& unit) {
    if (unit == "cm")
        return "CM";
    if (unit == "m")
        return "M";
    if (unit == "in")
        return "INCH";
    return "MM";
}

bool Failed(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

bool PartDocument::saveStep(const std::string& path, std::string* error) const {
    if (body_.IsNull())
        return Failed(error, "the part has no body to save");
    bool ok = false;
    try {
        // The part is kept in its template's unit and written in it. The unit settings are
        // process-wide, and readers go by them too, so they are put back afterwards.
        STEPControl_Controller::Init();
        const std::string cascade = Interface_Static::CVal("xstep.cascade.unit");
        const std::string written = Interface_Static::CVal("write.step.unit");
        Interface_Static::SetCVal("xstep.cascade.unit", StepUnit(template_.unit));
        Interface_Static::SetCVal("write.step.unit", StepUnit(template_.unit));
        {
            STEPControl_Writer writer;
#if OCC_VERSION_HEX >= 0x070700
            // From 7.7 the writer scales by the lengths its model holds, in millimetres, and
            // the settings above only name the unit in the file.
            const double millimetres = 1000.0 / template_.unitsPerMetre;
            writer.Model()->SetLocalLengthUnit(millimetres);
            writer.Model()->SetWriteLengthUnit(millimetres);
#endif
            ok = writer.Transfer(body_, STEPControl_AsIs) == IFSelect_RetDone &&
                 writer.Write(path.c_str()) == IFSelect_RetDone;
        }
        Interface_Static::SetCVal("xstep.cascade.unit", cascade.c_str());
        Interface_Static::SetCVal("write.step.unit", written.c_str());
    } catch (const Standard_Failure& failure) {
        return Failed(error, std::string("STEP export failed: ") + failure.GetMessageString());
    }
    return ok ? true : Failed(error, "cannot write \"" + path + "\"");
}

bool PartDocument::saveStl(const std::string& path, std::string* error) const {
    if (body_.IsNull())
        return Failed(error, "the part has no body to save");
    bool ok = false;
    try {
        mesh();
        StlAPI_Writer writer;
        writer.ASCIIMode() = Standard_False;
        ok = writer.Write(body_, path.c_str());
    } catch (const Standard_Failure& failure) {
        return Failed(error, std::string("STL export failed: ") + failure.GetMessageString());
    }
    return ok ? true : Failed(error, "cannot write \"" + path + "\"");
}

} // namespace krepiks::cad
