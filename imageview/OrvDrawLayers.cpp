// Special members of the layer interfaces, defined here so that their virtual tables and type
// information live in the library (a view recognises a layer by dynamic_cast).
#include "IOrvDrawLayer.h"

namespace orvUI {

IOrvDrawLayer::IOrvDrawLayer() noexcept = default;
IOrvDrawLayer::IOrvDrawLayer(const IOrvDrawLayer& other) noexcept : ZimReferenced(other) {}
IOrvDrawLayer& IOrvDrawLayer::operator=(const IOrvDrawLayer& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvDrawLayer::~IOrvDrawLayer() = default;

IOrvRectLayer::IOrvRectLayer() noexcept = default;
IOrvRectLayer::IOrvRectLayer(const IOrvRectLayer& other) noexcept : ZimReferenced(other) {}
IOrvRectLayer& IOrvRectLayer::operator=(const IOrvRectLayer& other) noexcept
{
    ZimReferenced::operator=(other);
    return *this;
}
IOrvRectLayer::~IOrvRectLayer() = default;

}  // namespace orvUI
