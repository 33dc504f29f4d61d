#pragma once

// The road from a view's events to the current tool: both views hand their mouse and key events
// to the tool the viewer manager holds, telling it first which view the event comes from.

#include "IOrvViewerMan.h"
#include "OrvUIElements64t.h"

namespace orvUI {

// The viewer manager's current tool, held; null when there is none.
inline ref_ptr<IZimTool> currentTool()
{
    ref_ptr<IOrvViewerMan> vm = getVM();
    return vm ? ref_ptr<IZimTool>(vm->getCurTool()) : ref_ptr<IZimTool>();
}

// Calls one handler of the current tool after setActiveView(view). The tool is held for the call,
// so a handler that replaces the current tool stays alive. Returns whether there was a tool.
template <class Call>
bool callTool(ZimViewKind view, Call call)
{
    const ref_ptr<IZimTool> tool = currentTool();
    if (!tool) return false;
    tool->setActiveView(view);
    call(tool.get());
    return true;
}

}  // namespace orvUI
