#include "ZimGeometry64t.h"

ZimTmpGlStateCtrl::ZimTmpGlStateCtrl(GLenum capability, bool on) : m_kind(Capability), m_name(capability)
{
    m_wasOn = glIsEnabled(capability) == GL_TRUE;
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
}

ZimTmpGlStateCtrl::ZimTmpGlStateCtrl(GLenum parameter, float value) : m_kind(None), m_name(parameter)
{
    if (parameter != GL_LINE_WIDTH) return;
    m_kind = LineWidth;
    glGetFloatv(GL_LINE_WIDTH, m_old);
    glLineWidth(value);
}

ZimTmpGlStateCtrl::ZimTmpGlStateCtrl(const ZimColor3f& colour) : m_kind(Colour), m_name(GL_CURRENT_COLOR)
{
    glGetFloatv(GL_CURRENT_COLOR, m_old);
    glColor3f(colour.r, colour.g, colour.b);
}

ZimTmpGlStateCtrl::ZimTmpGlStateCtrl(const ZimColor4f& colour) : m_kind(Colour), m_name(GL_CURRENT_COLOR)
{
    glGetFloatv(GL_CURRENT_COLOR, m_old);
    glColor4f(colour.r, colour.g, colour.b, colour.a);
}

ZimTmpGlStateCtrl::~ZimTmpGlStateCtrl()
{
    switch (m_kind) {
        case Capability:
            if (m_wasOn)
                glEnable(m_name);
            else
                glDisable(m_name);
            break;
        case LineWidth:
            glLineWidth(m_old[0]);
            break;
        case Colour:
            glColor4fv(m_old);
            break;
        case None:
            break;
    }
}
