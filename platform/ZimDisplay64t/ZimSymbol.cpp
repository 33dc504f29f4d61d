// Point and line markers drawn with the current GL matrices. Each call saves the GL state it
// changes (attribute stack, and the model-view matrix by value) and puts it back before it returns.
#include <cmath>
#include <initializer_list>

#include "GlSupport.h"
#include "ZimDisplay64t.h"

namespace zimdisp {

namespace {

bool finiteColour(const ZimColor3f& c) { return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b); }

// State every marker sets the same way: flat colour, no texture or lighting, both faces drawn,
// filled polygons; the depth test off when the marker is to show over everything.
void setMarkerState(const ZimColor3f& colour, double lineWidth, bool onTop)
{
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LINE_STIPPLE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (onTop) glDisable(GL_DEPTH_TEST);
    glLineWidth(lineWidth > 0.0 && std::isfinite(lineWidth) ? GLfloat(lineWidth) : 1.0f);
    glColor3f(colour.r, colour.g, colour.b);
}

constexpr GLbitfield kMarkerAttribs = GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_POLYGON_BIT | GL_TRANSFORM_BIT;

class CZimSymbol : public IZimSymbol {
public:
    int drawPoint(const XPnt3d& point, double size, double lineWidth, const ZimColor3f& colour, bool onTop,
                  bool filled) override;
    int drawLine(const XPnt3d& from, const XPnt3d& to, double width, const ZimColor3f& colour, bool onTop,
                 bool dashed) override;

protected:
    ~CZimSymbol() override = default;
};

int CZimSymbol::drawPoint(const XPnt3d& point, double size, double lineWidth, const ZimColor3f& colour, bool onTop,
                          bool filled)
{
    if (!point.isValid() || !(size > 0.0) || !std::isfinite(size) || !finiteColour(colour)) return -1;
    if (!hasCurrentContext() || !attribStackHasRoom()) return -1;

    // Work in eye space, where "facing the camera" is simply the x-y plane.
    const Mat4 modelView = currentMatrix(GL_MODELVIEW_MATRIX);
    const Mat4 projection = currentMatrix(GL_PROJECTION_MATRIX);
    const double obj[4] = {point.x, point.y, point.z, 1.0};
    double e[4];
    transform(modelView, obj, e);
    if (!(e[3] != 0.0) || !std::isfinite(e[3])) return -1;
    XPnt3d centre(e[0] / e[3], e[1] / e[3], e[2] / e[3]);
    // World units to eye units: the model-view may carry a scale.
    const double* m = modelView.m;
    const double det =
        m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) + m[8] * (m[1] * m[6] - m[5] * m[2]);
    const double scale = std::isfinite(det) && det != 0.0 ? std::cbrt(std::fabs(det)) : 1.0;
    const double half = 0.5 * size * scale;
    if (!centre.isValid() || !std::isfinite(half)) return -1;

    if (!onTop) {
        // Lift the marker towards the viewer by its own size, so that the surface it marks does
        // not cut through it; along the view ray, so that it stays over the same pixel.
        const double lift = 2.0 * half;
        const bool perspective = projection.m[15] == 0.0;
        if (!perspective)
            centre.z += lift;
        else if (centre.length() > 2.0 * lift)
            centre *= (centre.length() - lift) / centre.length();
    }

    glPushAttrib(kMarkerAttribs);
    setMarkerState(colour, lineWidth, onTop);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const double x = centre.x;
    const double y = centre.y;
    const double z = centre.z;
    if (filled) {
        // The outline after the fill keeps a marker smaller than a pixel visible.
        for (const GLenum mode : {GLenum(GL_QUADS), GLenum(GL_LINE_LOOP)}) {
            glBegin(mode);
            glVertex3d(x - half, y - half, z);
            glVertex3d(x + half, y - half, z);
            glVertex3d(x + half, y + half, z);
            glVertex3d(x - half, y + half, z);
            glEnd();
        }
    } else {
        glBegin(GL_LINES);
        glVertex3d(x - half, y, z);
        glVertex3d(x + half, y, z);
        glVertex3d(x, y - half, z);
        glVertex3d(x, y + half, z);
        glEnd();
    }
    glLoadMatrixd(modelView.m);
    glPopAttrib();
    return 0;
}

int CZimSymbol::drawLine(const XPnt3d& from, const XPnt3d& to, double width, const ZimColor3f& colour, bool onTop,
                         bool dashed)
{
    if (!from.isValid() || !to.isValid() || !finiteColour(colour)) return -1;
    if (!hasCurrentContext() || !attribStackHasRoom()) return -1;
    glPushAttrib(kMarkerAttribs);
    setMarkerState(colour, width, onTop);
    if (dashed) {
        glEnable(GL_LINE_STIPPLE);
        glLineStipple(1, 0x00FF);
    }
    glBegin(GL_LINES);
    glVertex3d(from.x, from.y, from.z);
    glVertex3d(to.x, to.y, to.z);
    glEnd();
    glPopAttrib();
    return 0;
}

}  // namespace

}  // namespace zimdisp

namespace zim {

ref_ptr<IZimSymbol> newZimSymbol() { return ref_ptr<IZimSymbol>(new zimdisp::CZimSymbol()); }

ref_ptr<IZimSymbol> getPubSymbol()
{
    static const ref_ptr<IZimSymbol> shared = newZimSymbol();
    return shared;
}

}  // namespace zim
