# Writes a FreeCAD document that serves as a part template: the stand-in's three planes,
# under the same labels, as planes of the document. KREPIKS_TEMPLATE_FILE names the file.
import os

import FreeCAD as App


def plane(label, normal, xdir):
    n, x = App.Vector(*normal), App.Vector(*xdir)
    y = n.cross(x)
    p = doc.addObject("App::Plane", "Plane")
    p.Label = label
    p.Placement = App.Placement(App.Matrix(x.x, y.x, n.x, 0, x.y, y.y, n.y, 0,
                                           x.z, y.z, n.z, 0, 0, 0, 0, 1))


doc = App.newDocument("Template")
plane("Спереди", (0, 0, 1), (1, 0, 0))
plane("Сверху", (0, 1, 0), (1, 0, 0))
plane("Справа", (1, 0, 0), (0, 0, -1))
doc.saveAs(os.environ["KREPIKS_TEMPLATE_FILE"])
