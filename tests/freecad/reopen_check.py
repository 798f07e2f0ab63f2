# Opens the FreeCAD document named by KREPIKS_CHECK_FILE, recomputes every object from its
# sketches and prints what the body became, one marked line, for the test to read.
import os

import FreeCAD as App

doc = App.openDocument(os.environ["KREPIKS_CHECK_FILE"])
for o in doc.Objects:
    o.touch()
doc.recompute()
bodies = [o for o in doc.Objects if o.TypeId == "PartDesign::Body"]
labels = ",".join(o.Label for o in bodies[0].Group)
print("krepiks-check %r %d %s" % (bodies[0].Shape.Volume, 1 if bodies[0].Shape.isValid() else 0,
                                  labels))
