// A draw layer for the 3D-viewer tests that reads the colour buffer while a frame is drawn,
// before the buffer swap (rows bottom-up, as GL gives them).
#pragma once

#include <GL/gl.h>

#include <QColor>
#include <vector>

#include "IOrvDrawLayer.h"

class CaptureLayer : public orvUI::IOrvDrawLayer {
public:
    int drawLayer(int, ref_ptr<IZimDisplay> display) override
    {
        width = display->displayWidth();
        height = display->displayHeight();
        pixels.assign(std::size_t(width) * height * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        ++frames;
        return 0;
    }
    QColor at(int x, int y) const
    {
        const unsigned char* p = &pixels[(std::size_t(y) * width + x) * 4];
        return QColor(p[0], p[1], p[2]);
    }
    int width = 0, height = 0, frames = 0;
    std::vector<unsigned char> pixels;
};
