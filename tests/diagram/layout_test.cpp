// The records and classes that cross the host/plug-in boundary: their
// sizes, field offsets and virtual slots are pinned, so a change to either
// side that would break the other fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "common/i2c_object.h"
#include "common/shapes.h"

struct TGUIObjectLayout {
  template <class Field>
  static size_t At(const TGUIObject& o, const Field& field) {
    return size_t(reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&o));
  }
  static std::vector<std::pair<std::string, size_t>> Offsets(const TGUIObject& o) {
    return {{"scale", At(o, o.scale)},
            {"canvas", At(o, o.canvas)},
            {"proximityTimer", At(o, o.proximityTimer)},
            {"fadeState", At(o, o.fadeState)},
            {"fadeStep", At(o, o.fadeStep)},
            {"currentWidth", At(o, o.currentWidth)},
            {"normalWidth", At(o, o.normalWidth)},
            {"onWidth", At(o, o.onWidth)},
            {"highlightWidth", At(o, o.highlightWidth)},
            {"currentColour", At(o, o.currentColour)},
            {"backgroundColour", At(o, o.backgroundColour)},
            {"normalColour", At(o, o.normalColour)},
            {"highlightColour", At(o, o.highlightColour)},
            {"onColour", At(o, o.onColour)},
            {"sourcePoints", At(o, o.sourcePoints)},
            {"placedPoints", At(o, o.placedPoints)},
            {"pointCount", At(o, o.pointCount)},
            {"id", At(o, o.id)},
            {"mode", At(o, o.mode)},
            {"eventCallback", At(o, o.eventCallback)},
            {"callbackUser", At(o, o.callbackUser)},
            {"on", At(o, o.on)},
            {"activeObjects", At(o, o.activeObjects)},
            {"propagating", At(o, o.propagating)},
            {"settingNetState", At(o, o.settingNetState)},
            {"enabled", At(o, o.enabled)},
            {"savedState", At(o, o.savedState)},
            {"searchingNet", At(o, o.searchingNet)},
            {"visible", At(o, o.visible)},
            {"shadow", At(o, o.shadow)},
            {"gradient", At(o, o.gradient)},
            {"functionName", At(o, o.functionName)},
            {"hintText", At(o, o.hintText)},
            {"offsetX", At(o, o.offsetX)},
            {"offsetY", At(o, o.offsetY)},
            {"boxLeft", At(o, o.boxLeft)},
            {"boxBottom", At(o, o.boxBottom)},
            {"linkToCount", At(o, o.linkToCount)},
            {"linkToValues", At(o, o.linkToValues)},
            {"linkToIDs", At(o, o.linkToIDs)},
            {"targetCount", At(o, o.targetCount)},
            {"sourceCount", At(o, o.sourceCount)},
            {"targets", At(o, o.targets)},
            {"sources", At(o, o.sources)},
            {"sourceValues", At(o, o.sourceValues)},
            {"netCount", At(o, o.netCount)},
            {"nets", At(o, o.nets)},
            {"fillMode", At(o, o.fillMode)},
            {"fillColour", At(o, o.fillColour)},
            {"strokeMode", At(o, o.strokeMode)},
            {"strokeColour", At(o, o.strokeColour)}};
  }
};

struct TI2CObjectLayout {
  template <class Field>
  static size_t At(const TI2CObject& o, const Field& field) {
    return size_t(reinterpret_cast<const char*>(&field) - reinterpret_cast<const char*>(&o));
  }
  static std::vector<std::pair<std::string, size_t>> Offsets(const TI2CObject& o) {
    return {{"device", At(o, o.device)},
            {"page", At(o, o.page)},
            {"firstRegister", At(o, o.firstRegister)},
            {"count", At(o, o.count)},
            {"data", At(o, o.data)},
            {"inlineByte", At(o, o.inlineByte)},
            {"enabled", At(o, o.enabled)},
            {"savedWrite", At(o, o.savedWrite)},
            {"write", At(o, o.write)},
            {"poll", At(o, o.poll)},
            {"block", At(o, o.block)},
            {"user", At(o, o.user)},
            {"privateData", At(o, o.privateData)},
            {"heldWrites", At(o, o.heldWrites)}};
  }
};

namespace {

class Window : public TI2CObject {
 public:
  Window() : TI2CObject(0x30, 0, 0, 1, nullptr) {}
  void Refresh() override {}
};

// The vtable slot of a virtual member function (Itanium C++ ABI: the
// pointer holds 1 + the byte offset in the vtable).
template <class F>
long Slot(F f) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } raw;
  static_assert(sizeof raw == sizeof f);
  std::memcpy(&raw, &f, sizeof raw);
  if ((raw.ptr & 1) == 0) return -1;
  return long((raw.ptr - 1) / sizeof(void*));
}

}  // namespace

TEST(BoundaryLayout, SizesOfTheSharedRecords) {
  EXPECT_EQ(sizeof(void*), 8u);
  EXPECT_EQ(sizeof(TPointF), 8u);
  EXPECT_EQ(sizeof(TGUIObject::TNet), 136u);
  EXPECT_EQ(sizeof(TGUIObject), 3128u);
  EXPECT_EQ(sizeof(TGUILine), 3136u);
  EXPECT_EQ(sizeof(TGUIRectangle), 3136u);
  EXPECT_EQ(sizeof(TI2CObject), 112u);
  EXPECT_EQ(sizeof(TCanvas), 56u);
}

TEST(BoundaryLayout, TGUIObjectFieldsKeepTheirOrderAndOffsets) {
  const float points[4] = {0, 0, 1, 1};
  TGUILine line(points, 1, 0);
  const std::vector<std::pair<std::string, size_t>> expected = {{"scale", 8},
                                                                {"canvas", 16},
                                                                {"proximityTimer", 24},
                                                                {"fadeState", 32},
                                                                {"fadeStep", 36},
                                                                {"currentWidth", 40},
                                                                {"normalWidth", 44},
                                                                {"onWidth", 48},
                                                                {"highlightWidth", 52},
                                                                {"currentColour", 56},
                                                                {"backgroundColour", 60},
                                                                {"normalColour", 64},
                                                                {"highlightColour", 68},
                                                                {"onColour", 72},
                                                                {"sourcePoints", 76},
                                                                {"placedPoints", 204},
                                                                {"pointCount", 332},
                                                                {"id", 336},
                                                                {"mode", 340},
                                                                {"eventCallback", 344},
                                                                {"callbackUser", 352},
                                                                {"on", 360},
                                                                {"activeObjects", 361},
                                                                {"propagating", 362},
                                                                {"settingNetState", 363},
                                                                {"enabled", 364},
                                                                {"savedState", 365},
                                                                {"searchingNet", 366},
                                                                {"visible", 367},
                                                                {"shadow", 368},
                                                                {"gradient", 369},
                                                                {"functionName", 376},
                                                                {"hintText", 408},
                                                                {"offsetX", 440},
                                                                {"offsetY", 444},
                                                                {"boxLeft", 448},
                                                                {"boxBottom", 460},
                                                                {"linkToCount", 464},
                                                                {"linkToValues", 468},
                                                                {"linkToIDs", 532},
                                                                {"targetCount", 596},
                                                                {"sourceCount", 600},
                                                                {"targets", 608},
                                                                {"sources", 736},
                                                                {"sourceValues", 864},
                                                                {"netCount", 928},
                                                                {"nets", 936},
                                                                {"fillMode", 3112},
                                                                {"fillColour", 3116},
                                                                {"strokeMode", 3120},
                                                                {"strokeColour", 3124}};
  EXPECT_EQ(TGUIObjectLayout::Offsets(line), expected);
}

TEST(BoundaryLayout, TI2CObjectFieldsKeepTheirOrderAndOffsets) {
  Window window;
  const std::vector<std::pair<std::string, size_t>> expected = {
      {"device", 8},      {"page", 12},    {"firstRegister", 16}, {"count", 20}, {"data", 24},
      {"inlineByte", 32}, {"enabled", 33}, {"savedWrite", 40},    {"write", 48}, {"poll", 56},
      {"block", 64},      {"user", 72},    {"privateData", 80}, {"heldWrites", 88}};
  EXPECT_EQ(TI2CObjectLayout::Offsets(window), expected);
}

TEST(BoundaryLayout, VirtualOperationsKeepTheirSlots) {
  // Slots 0 and 1 hold the two destructor entries of the ABI.
  EXPECT_EQ(Slot(&TGUIObject::StartFade), 2);
  EXPECT_EQ(Slot(&TGUIObject::Place), 3);
  EXPECT_EQ(Slot(&TGUIObject::HitTest), 4);
  EXPECT_EQ(Slot(&TGUIObject::Click), 5);
  EXPECT_EQ(Slot(&TGUIObject::MouseMove), 6);
  EXPECT_EQ(Slot(&TGUIObject::OnHighlighted), 7);
  EXPECT_EQ(Slot(&TGUIObject::OnUnhighlighted), 8);
  EXPECT_EQ(Slot(&TGUIObject::SetCallback), 9);
  EXPECT_EQ(Slot(&TGUIObject::SetHighlightColour), 10);
  EXPECT_EQ(Slot(&TGUIObject::SetOnColour), 11);
  EXPECT_EQ(Slot(&TGUIObject::Propagate), 12);
  EXPECT_EQ(Slot(&TGUIObject::AfterLoad), 13);
  EXPECT_EQ(Slot(&TGUIObject::Transform), 14);
  EXPECT_EQ(Slot(&TGUIObject::Translate), 15);
  EXPECT_EQ(Slot(&TGUIObject::Scale), 16);
  EXPECT_EQ(Slot(&TGUIObject::HasNet), 17);
  EXPECT_EQ(Slot(&TGUIObject::SetState), 18);
  EXPECT_EQ(Slot(&TGUIObject::SetActiveObjects), 19);
  EXPECT_EQ(Slot(&TGUIObject::SetEnabled), 20);
  EXPECT_EQ(Slot(&TGUIObject::GetState), 21);
  EXPECT_EQ(Slot(&TGUIObject::GetSavedState), 22);
  EXPECT_EQ(Slot(&TGUIObject::Request), 23);
  EXPECT_EQ(Slot(&TGUIObject::SetVisible), 24);
  EXPECT_EQ(Slot(&TGUIObject::Draw), 25);
  EXPECT_EQ(Slot(&TI2CObject::OnRegisterChanged), 0);
  EXPECT_EQ(Slot(&TI2CObject::Refresh), 1);
}
