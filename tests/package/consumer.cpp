#include <ZimGeometry64t.h>

int main()
{
    ref_ptr<IZimImage> image = zim::newZimImage();
    return image->imageCreate(4, 4, 24, ZimImageWithMarks) ? 0 : 1;
}
