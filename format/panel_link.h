// The editor's side of a format's host link: the drawing surface over the draw context of the paint in
// progress, the panel editor's window, and the editor view's events passed on to the effect. A format's
// link derives from it and adds the host queries and the way edits reach its host. Editor thread only.
#pragma once

#include "editor/surface.h"
#include "editor/vest_editor.h"
#include "runtime/host_link.h"

#include <cstdint>
#include <string>

class TParvex;

namespace format {

class TPanelLink : public THostLink, public TEditorHost {
public:
    TDrawingSurface& Surface() { return surface_; }
    // Runs the effect's drawing section with `context` as the current draw context for its duration.
    void DrawWith(VSTGUI::CDrawContext* context, double width, double height);

    // THostLink: the editor and the drawing surface.
    void InvalidateEditor() override;
    bool GetEditorSize(int32_t& width, int32_t& height) override;
    bool SetDrawMode(int32_t mode) override;
    bool SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) override;
    bool SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) override;
    bool FillRect(double left, double top, double right, double bottom) override;
    bool DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                        int32_t alignment) override;
    double GetTextWidth(const char* text) override;
    bool SelectFont(const std::string& face, int32_t size, int32_t style) override;
    bool DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom, double sourceX,
                       double sourceY) override;
    TImageSlot* NewImageSlot() override;

    // TEditorHost: the view's events and the frame timer.
    void EditorIdle() override;
    void EditorDraw(VSTGUI::CDrawContext* context, double width, double height) override;
    void EditorMouseDown(double x, double y, int32_t buttons) override;
    void EditorMouseUp(double x, double y, int32_t buttons) override;
    void EditorMouseMoved(double x, double y, int32_t buttons) override;
    void EditorKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) override;
    void EditorKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) override;
    // The panel lets go of whatever the pointer held, in a frame that draws nothing, so that a drag ends and
    // the host hears the end of the edit now rather than when the editor opens again.
    void EditorClosed() override;

protected:
    ~TPanelLink() = default;

    // The effect whose panel this is, and the editor showing it (null while there is none).
    virtual TParvex* PanelEffect() const = 0;
    virtual CVeSTEditor* PanelEditor() const = 0;

    // The effect's sections behind the events (idle: the frame timer; draw: the panel; pointer: the mouse
    // state). A format whose seam to the effect is a table of its own goes through that table instead.
    virtual void EffectIdle();
    virtual void EffectDraw(double width, double height);
    virtual void EffectMouseDown(double x, double y, int32_t buttons);
    virtual void EffectMouseUp(double x, double y, int32_t buttons);
    virtual void EffectMouseMove(double x, double y, int32_t buttons);
    // Keys reach nothing in this panel.
    virtual void EffectKeyDown(int32_t /*character*/, uint8_t /*modifier*/, uint8_t /*virtualKey*/) {}
    virtual void EffectKeyUp(int32_t /*character*/, uint8_t /*modifier*/, uint8_t /*virtualKey*/) {}

private:
    TDrawingSurface surface_;
};

} // namespace format
