# Runs inside FreeCAD (freecadcmd, or the FreeCAD window as a start-up macro) and carries out
# the part documents krepiks-freecad keeps: each request is one Python expression over the
# helpers below, read from the private pipe krepiks-freecad passes as file descriptor
# KREPIKS_FREECAD_IN; the answer goes back on KREPIKS_FREECAD_OUT. Both frames are a decimal
# byte count, a newline and that many bytes of UTF-8. An answer starts with "ok " or "error ".
import math
import os
import sys
import traceback

import FreeCAD as App
import Part
import Sketcher

_docs = {}
_objects = {}  # (document, the id krepiks-freecad gave it) -> the FreeCAD object
_built = {}  # document -> its undo count when krepiks-freecad last changed it
_unchecked = {}  # document -> the features made since its last recompute


class _Recomputes:
    # Counts every recompute of each document, whoever asks for it, for describe to say.
    def __init__(self):
        self.count = {}

    def slotRecomputedDocument(self, doc):
        self.count[doc.Name] = self.count.get(doc.Name, 0) + 1


_recomputes = _Recomputes()
App.addDocumentObserver(_recomputes)


def _new(key, ident, type_id, name, label):
    doc, body = _docs[key]
    o = body.newObject(type_id, name)
    o.Label = label
    _objects[(key, ident)] = o
    return o


def _placement(o, x, n):
    # The sketch frame: origin, x axis and normal, in millimetres.
    n = App.Vector(*n)
    x = App.Vector(*x)
    y = n.cross(x)
    m = App.Matrix(x.x, y.x, n.x, o[0], x.y, y.y, n.y, o[1], x.z, y.z, n.z, o[2], 0, 0, 0, 1)
    return App.Placement(m)


def new_document(key, label, template):
    if template:
        # A FreeCAD document as the template: its objects in a new, unsaved document.
        doc = App.newDocument(key)
        doc.mergeProject(template)
    else:
        doc = App.newDocument(key)
    doc.Label = label
    bodies = [o for o in doc.Objects if o.TypeId == "PartDesign::Body"]
    body = bodies[0] if bodies else doc.addObject("PartDesign::Body", "Body")
    if hasattr(body, "AllowCompound"):
        # FreeCAD 1.0 would otherwise keep one solid of a feature's result and drop the rest
        # without a word; kept whole, a result of several solids is refused below, as 0.20
        # refuses it itself.
        body.AllowCompound = True
    _docs[key] = (doc, body)
    if App.GuiUp:
        import FreeCADGui as Gui
        Gui.activeDocument().ActiveView.setActiveObject("pdbody", body)
    return doc.Name


def template_planes(path):
    # The named planes a FreeCAD template offers, as "label|ox oy oz|nx ny nz|xx xy xz" lines.
    doc = App.openDocument(path, hidden=True)
    try:
        lines = []
        for o in doc.Objects:
            if o.TypeId not in ("App::Plane", "PartDesign::Plane"):
                continue
            p = o.getGlobalPlacement() if hasattr(o, "getGlobalPlacement") else o.Placement
            n = p.Rotation.multVec(App.Vector(0, 0, 1))
            x = p.Rotation.multVec(App.Vector(1, 0, 0))
            b = p.Base
            lines.append("%s|%r %r %r|%r %r %r|%r %r %r" %
                         (o.Label, b.x, b.y, b.z, n.x, n.y, n.z, x.x, x.y, x.z))
        return "\n".join(lines)
    finally:
        App.closeDocument(doc.Name)


def sketch(key, ident, label, o, x, n):
    s = _new(key, ident, "Sketcher::SketchObject", "Sketch", label)
    s.MapMode = "Deactivated"
    s.Placement = _placement(o, x, n)
    return s.Name


def line(key, ident, x1, y1, x2, y2):
    # Joins the new line's ends to the ends they meet, so the contour stays one when edited.
    s = _objects[(key, ident)]
    a, b = App.Vector(x1, y1, 0), App.Vector(x2, y2, 0)
    ends = []
    for i, g in enumerate(s.Geometry):
        ends += [(g.StartPoint, i, 1), (g.EndPoint, i, 2)]
    k = s.addGeometry(Part.LineSegment(a, b))
    for point, pos in ((a, 1), (b, 2)):
        for other, i, opos in ends:
            if (other - point).Length <= 1e-9:
                s.addConstraint(Sketcher.Constraint("Coincident", k, pos, i, opos))
                break
    return k


def datum_line(key, ident, label, base, direction):
    d = _new(key, ident, "PartDesign::Line", "DatumLine", label)
    d.MapMode = "Deactivated"
    d.Placement = App.Placement(App.Vector(*base),
                                App.Rotation(App.Vector(0, 0, 1), App.Vector(*direction)))
    return d.Name


def _made(key, feature):
    # Made once the document is recomputed: krepiks-freecad asks for that when its client
    # waits, not after every feature.
    _unchecked.setdefault(key, []).append(feature)
    return feature.Name


def _made_well(o):
    # A body feature must leave one solid.
    return o.isValid() and len(getattr(o, "Shape", Part.Shape()).Solids) <= 1


def recompute(key):
    # One recompute for everything sent since the last, then each feature made since is
    # checked, in the order made.
    doc, _ = _docs[key]
    made, _unchecked[key] = _unchecked.get(key, []), []
    doc.recompute()
    for feature in made:
        if not _made_well(feature):
            raise RuntimeError("FreeCAD could not make %s" % feature.Label)
    _built[key] = doc.UndoCount


def revolution(key, ident, type_id, label, profile, axis, degrees, reversed_, midplane):
    f = _new(key, ident, type_id, type_id.split("::")[1], label)
    sketch = _objects[(key, profile)]
    f.Profile = sketch
    f.ReferenceAxis = (_objects[(key, axis[0])], [axis[1]])
    f.Angle = degrees
    f.Reversed = reversed_
    f.Midplane = midplane
    sketch.Visibility = False
    return _made(key, f)


def pad(key, ident, label, profile, length, length2, reversed_, midplane):
    f = _new(key, ident, "PartDesign::Pad", "Pad", label)
    sketch = _objects[(key, profile)]
    f.Profile = sketch
    f.Length = length
    if length2 > 0:
        f.Type = "TwoLengths"
        f.Length2 = length2
    f.Reversed = reversed_
    f.Midplane = midplane
    sketch.Visibility = False
    return _made(key, f)


def zoom_to_fit(key):
    if App.GuiUp:
        import FreeCADGui as Gui
        doc, _ = _docs[key]
        Gui.getDocument(doc.Name).ActiveView.fitAll()
    return ""


def describe(key):
    # Whether the window shows it, one line per object (name, type, label, valid), the
    # normal of each sketch, how often the document was recomputed, then the body's volume
    # and validity.
    doc, body = _docs[key]
    lines = ["gui\t%d" % (1 if App.GuiUp else 0)]
    lines += ["%s\t%s\t%s\t%d" % (o.Name, o.TypeId, o.Label, 1 if _made_well(o) else 0)
              for o in body.Group]
    # Where each sketch lies: the normal of its plane.
    for o in body.Group:
        if o.TypeId == "Sketcher::SketchObject":
            n = o.Placement.Rotation.multVec(App.Vector(0, 0, 1))
            lines.append("normal\t%s\t%.9f %.9f %.9f" % (o.Label, n.x, n.y, n.z))
    lines.append("recomputes\t%d" % _recomputes.count.get(doc.Name, 0))
    # A body whose last feature failed has no shape at all.
    shape = body.Shape
    made = not shape.isNull()
    lines.append("volume\t%r\t%d" % (shape.Volume if made else 0.0,
                                       1 if made and shape.isValid() else 0))
    return "\n".join(lines)


def save(key, path):
    doc, body = _docs[key]
    if path.lower().endswith(".fcstd"):
        # A copy: the document the user sees keeps its own name and stays unsaved.
        doc.saveCopy(path)
    else:
        Part.export([body], path)
    return path


def quit_application():
    if App.GuiUp:
        import FreeCADGui as Gui
        from PySide import QtCore
        # The parts built here and not touched since are not the user's work: they close
        # without a question. Then as File → Quit: FreeCAD asks about the user's unsaved
        # documents and may be told to stay. The answer goes first, so that krepiks-freecad
        # does not wait on the person.
        for key, (doc, _) in list(_docs.items()):
            if doc.Name in App.listDocuments() and doc.UndoCount == _built.get(key, 0):
                App.closeDocument(doc.Name)
        QtCore.QTimer.singleShot(0, Gui.getMainWindow().close)
    return ""


_in = os.fdopen(int(os.environ["KREPIKS_FREECAD_IN"]), "rb", buffering=0)
_out = os.fdopen(int(os.environ["KREPIKS_FREECAD_OUT"]), "wb", buffering=0)
_pending = b""


def _answer(text):
    data = text.encode("utf-8")
    _out.write(b"%d\n" % len(data) + data)


def _serve(request):
    try:
        result = eval(request.decode("utf-8"), globals())
        _answer("ok " + ("" if result is None else str(result)))
    except Exception as error:
        _answer("error " + "".join(traceback.format_exception_only(type(error), error)).strip())


def _frames():
    # Every whole request in what has arrived; the rest waits for more.
    global _pending
    while True:
        head, sep, rest = _pending.partition(b"\n")
        if not sep:
            return
        size = int(head)
        if len(rest) < size:
            return
        request, _pending = rest[:size], rest[size:]
        yield request


def _closed():
    # krepiks-freecad has gone: a headless FreeCAD goes with it; a window stays the user's.
    if not App.GuiUp:
        os._exit(0)


if App.GuiUp:
    from PySide import QtCore

    def _readable():
        global _pending
        chunk = os.read(_in.fileno(), 1 << 16)
        if not chunk:
            _notifier.setEnabled(False)
            return _closed()
        _pending += chunk
        for request in _frames():
            _serve(request)

    _notifier = QtCore.QSocketNotifier(_in.fileno(), QtCore.QSocketNotifier.Read)
    _notifier.activated.connect(_readable)
    _answer("ok ready")
else:
    _answer("ok ready")
    while True:
        chunk = os.read(_in.fileno(), 1 << 16)
        if not chunk:
            _closed()
        _pending += chunk
        for request in _frames():
            _serve(request)
