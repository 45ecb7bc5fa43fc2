#include "common/gui_object.h"

#include <QTimer>
#include <utility>
#include <vector>

#include "common/canvas.h"

// ---------------------------------------------------------------- timer

TProximityTimer::TProximityTimer() : timer_(new QTimer) {
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_, &QTimer::timeout, [this] { Tick(); });
}

TProximityTimer::~TProximityTimer() {
  timer_->stop();
  delete timer_;
}

void TProximityTimer::AddObject(TGUIObject* object) {
  if (count_ < kMaxObjects) objects_[count_++] = object;
}

void TProximityTimer::Clear() {
  enabled_ = false;
  Apply();
  count_ = 0;
}

void TProximityTimer::Arm(int intervalMs) {
  interval_ = intervalMs;
  enabled_ = true;
  Apply();
}

void TProximityTimer::Tick() {
  bool running = false;
  for (unsigned i = 0; i < count_; ++i) {
    if (running) break;  // an earlier object still fades: the rest wait
    running = objects_[i]->FadeStep() != 0;
  }
  interval_ = running ? 20 : 0;
  enabled_ = running;
  Apply();
}

void TProximityTimer::Apply() {
  if (enabled_ && interval_ > 0) {
    timer_->start(interval_);
  } else {
    timer_->stop();
  }
}

// ---------------------------------------------------------------- object

TGUIObject::TGUIObject(int width, TColor colour)
    : currentWidth(width),
      normalWidth(width),
      onWidth(width),
      highlightWidth(width + 2),
      currentColour(colour),
      normalColour(colour) {}

TGUIObject::~TGUIObject() = default;

void TGUIObject::StartFade(int state) {
  if (!proximityTimer) return;
  fadeState = state;
  proximityTimer->Arm(1);
}

void TGUIObject::Place(float, int, int) {}

bool TGUIObject::ClickTest(int x, int y) {
  if (mode == 0) return false;
  return HitTest(x, y) || mode == 2;
}

bool TGUIObject::Click(int x, int y) { return ClickTest(x, y); }

void TGUIObject::MouseMove(int x, int y) {
  if (mode != 1) return;
  const bool hit = HitTest(x, y);
  if (hit && fadeState == kFadeIdle) {
    StartFade(kFadeEntered);
    SendEvent(kEventEntered);
  } else if (!hit && fadeState == kFadeEntered) {
    StartFade(kFadeRampB);
    SendEvent(kEventLeft);
  } else if (!hit && fadeState == kFadeLit) {
    StartFade(kFadeOutPending);
    SendEvent(kEventLeft);
  }
}

void TGUIObject::OnHighlighted() {}
void TGUIObject::OnUnhighlighted() {}

void TGUIObject::SetCallback(void* user, TGUIEventCallback callback) {
  callbackUser = user;
  eventCallback = callback;
}

void TGUIObject::SetHighlightColour(TColor colour) { highlightColour = colour; }
void TGUIObject::SetOnColour(TColor colour) { onColour = colour; }

void TGUIObject::Propagate(bool recolour) {
  if (propagating) return;
  propagating = true;
  on = false;
  if (enabled) {
    bool any = false;
    for (unsigned i = 0; i < sourceCount && !any; ++i) any = sources[i]->GetState();
    if (recolour && sourceCount > 0) SetOnColour(sources[0]->GetOnColour());
    SetState(any && enabled);
    for (unsigned i = 0; i < targetCount; ++i) targets[i]->Propagate(recolour);
  }
  propagating = false;
}

void TGUIObject::AfterLoad() { savedState = on; }

void TGUIObject::Transform(float a, float b, float c, float d, float e, float f) {
  for (unsigned i = 0; i < pointCount; ++i) {
    const float x = sourcePoints[i].x;
    const float y = sourcePoints[i].y;
    sourcePoints[i].x = a * x + c * y + e;
    sourcePoints[i].y = b * x + d * y + f;
  }
}

void TGUIObject::Translate(float dx, float dy) {
  for (unsigned i = 0; i < pointCount; ++i) {
    sourcePoints[i].x += dx;
    sourcePoints[i].y += dy;
  }
}

void TGUIObject::Scale(float, float) {}

bool TGUIObject::HasNet(int net) {
  for (unsigned i = 0; i < netCount; ++i)
    if (nets[i].number == net) return true;
  return false;
}

void TGUIObject::SetState(bool value) {
  on = value;
  if (value && enabled) {
    currentColour = onColour;
    currentWidth = onWidth;
  } else {
    currentColour = normalColour;
    currentWidth = normalWidth;
  }
}

void TGUIObject::SetActiveObjects(bool flag) { activeObjects = flag; }
void TGUIObject::SetEnabled(bool flag) { enabled = flag; }
bool TGUIObject::GetState() { return on; }
bool TGUIObject::GetSavedState(int) { return savedState; }
int TGUIObject::Request(int, void*) { return -1; }
void TGUIObject::SetVisible(bool flag) { visible = flag; }

void TGUIObject::Paint(TCanvas* target) {
  if (!visible || !target) return;
  canvas = target;
  if (target->Held()) {
    target->NoteHeldPaint(this);
    return;
  }
  QPainter& painter = target->Lock();
  if (painter.isActive()) {
    if (fadeState == kFadeIdle) {
      Draw(target);
    } else {
      const float t = float(fadeStep) * 0.1f;
      currentColour = Lerp(backgroundColour, highlightColour, t);
      currentWidth = highlightWidth;
      Draw(target);
      currentColour = Lerp(on ? onColour : normalColour, highlightColour, t);
      currentWidth = on ? onWidth : normalWidth;
    }
  }
  target->Unlock();
}

void TGUIObject::PaintAside(TCanvas* target) {
  // A group's paint re-points its children too: every canvas is put back.
  if (!dynamic_cast<TGUIGroup*>(this)) {
    TCanvas* const kept = canvas;
    Paint(target);
    canvas = kept;
    return;
  }
  std::vector<std::pair<TGUIObject*, TCanvas*>> kept;
  std::vector<TGUIObject*> pending = {this};
  while (!pending.empty()) {
    TGUIObject* object = pending.back();
    pending.pop_back();
    kept.emplace_back(object, object->canvas);
    if (auto* inner = dynamic_cast<TGUIGroup*>(object))
      for (unsigned i = 0; i < inner->GetChildCount(); ++i) pending.push_back(inner->GetChild(i));
  }
  Paint(target);
  for (const auto& [object, previous] : kept) object->canvas = previous;
}

int TGUIObject::SetMode(int newMode, TProximityTimer* timer) {
  if (!proximityTimer && timer) {
    proximityTimer = timer;
    timer->AddObject(this);
  }
  mode = newMode;
  return mode;
}

int TGUIObject::FadeStep() {
  if (!canvas || fadeState == kFadeIdle) return 0;
  if (fadeState == kFadeEntered) fadeStep = 10;
  if (fadeState == kFadeOutPending) fadeStep = 0;
  Paint(canvas);
  switch (fadeState) {
    case kFadeEntered:
    case kFadeRampA:
    case kFadeRampB:
      if (fadeStep != 10) {
        ++fadeStep;
        return 20;
      }
      if (fadeState == kFadeEntered) {
        fadeState = kFadeLit;
        currentWidth = highlightWidth;
        OnHighlighted();
        SendEvent(kEventLit);
        return 0;
      }
      fadeState = kFadeOutPending;
      currentWidth = on ? onWidth : normalWidth;
      return 20;
    case kFadeOutPending:
      EndHover();
      return 0;
    default:
      return 0;
  }
}

void TGUIObject::EndHover() {
  if (fadeState == kFadeIdle) return;
  fadeState = kFadeIdle;
  fadeStep = 0;
  // The colour that a fade's paint leaves (a paint onto a held canvas
  // leaves none) would be the next plain draw's.
  currentColour = on ? onColour : normalColour;
  currentWidth = on ? onWidth : normalWidth;
  OnUnhighlighted();
  SendEvent(kEventHoverEnded);
}

void TGUIObject::SendEvent(int event) {
  if (eventCallback) eventCallback(callbackUser, this, event);
}

void TGUIObject::PlacePoints(float s, int dx, int dy) {
  scale = s;
  offsetX = 0;
  offsetY = 0;
  boxLeft = 1000000;
  boxTop = 1000000;
  boxRight = 0;
  boxBottom = 0;
  for (unsigned i = 0; i < pointCount; ++i) {
    const float x = ClampCoordinate(sourcePoints[i].x * s + float(dx));
    const float y = ClampCoordinate(sourcePoints[i].y * s + float(dy));
    placedPoints[i] = {x, y};
    if (x > float(boxRight)) boxRight = int(x);
    if (x < float(boxLeft)) boxLeft = int(x);
    if (y > float(boxBottom)) boxBottom = int(y);
    if (y < float(boxTop)) boxTop = int(y);
  }
}

void TGUIObject::GetBoundingBox(int& left, int& top, int& right, int& bottom) const {
  left = boxLeft;
  top = boxTop;
  right = boxRight;
  bottom = boxBottom;
}

void TGUIObject::SetStyle(int fill, uint32_t fillValue, int stroke, uint32_t strokeValue) {
  fillMode = fill;
  fillColour = fillValue;
  strokeMode = stroke;
  strokeColour = strokeValue;
}

void TGUIObject::AddLinkTo(int targetID, int value) {
  if (linkToCount >= int(kMaxLinks)) return;
  linkToIDs[linkToCount] = targetID;
  linkToValues[linkToCount] = value;
  ++linkToCount;
}

int TGUIObject::GetLinkToID(int i) const { return i >= 0 && i < linkToCount ? linkToIDs[i] : 0; }
int TGUIObject::GetLinkToValue(int i) const { return i >= 0 && i < linkToCount ? linkToValues[i] : 0; }

void TGUIObject::Link(TGUIObject* target, int value) {
  if (!target) return;
  if (targetCount < kMaxLinks) targets[targetCount++] = target;
  if (target->sourceCount < kMaxLinks) {
    target->sources[target->sourceCount] = this;
    target->sourceValues[target->sourceCount] = value;
    ++target->sourceCount;
  }
}

TGUIObject* TGUIObject::FindByID(int wanted) {
  if (id == wanted) return this;
  for (unsigned i = 0; i < kMaxLinks && targets[i]; ++i)
    if (targets[i]->id == wanted) return targets[i];
  return nullptr;
}

void TGUIObject::AddNet(int number) {
  if (netCount >= kMaxNets) return;
  nets[netCount].number = number;
  nets[netCount].memberCount = 0;
  ++netCount;
}

void TGUIObject::AddNetMember(TGUIObject* object, unsigned recordIndex) {
  if (recordIndex >= netCount) return;
  TNet& net = nets[recordIndex];
  if (net.memberCount >= kMaxNetMembers) return;
  net.members[net.memberCount++] = object;
}

namespace {

// A pass over the nets reaches every member along every path that its
// guards leave open: on a page whose nets join each other over and over that
// grows exponentially, and the page would hang. One pass (from the outermost
// call on, searches included) visits at most this many members; a page that
// needs more is left as far as the pass got. The kit's pages use fewer
// than ten.
constexpr unsigned kMaxNetVisits = 100000;

class TNetPass {
 public:
  TNetPass() {
    if (depth_++ == 0) visits_ = 0;
  }
  ~TNetPass() { --depth_; }
  TNetPass(const TNetPass&) = delete;
  TNetPass& operator=(const TNetPass&) = delete;
  static bool Visit() { return ++visits_ <= kMaxNetVisits; }

 private:
  static thread_local unsigned depth_;
  static thread_local unsigned visits_;
};
thread_local unsigned TNetPass::depth_ = 0;
thread_local unsigned TNetPass::visits_ = 0;

}  // namespace

void TGUIObject::SetNetState(unsigned recordIndex, bool state, TColor colour) {
  if (settingNetState) return;
  settingNetState = true;
  const TNetPass pass;
  if (recordIndex < netCount) {
    const TNet& net = nets[recordIndex];
    for (unsigned i = 0; i < net.memberCount && TNetPass::Visit(); ++i) {
      TGUIObject* member = net.members[i];
      if (member->HasNet(net.number)) {
        member->SetOnColour(colour);
        member->SetState(state);
      }
    }
  }
  settingNetState = false;
}

TGUIObject* TGUIObject::FindNetMemberOn(unsigned recordIndex) {
  if (searchingNet) return nullptr;
  searchingNet = true;
  const TNetPass pass;
  TGUIObject* found = nullptr;
  if (recordIndex < netCount) {
    const TNet& net = nets[recordIndex];
    for (unsigned i = 0; i < net.memberCount && !found && TNetPass::Visit(); ++i) {
      TGUIObject* member = net.members[i];
      if (member->HasNet(net.number) && member->GetSavedState(net.number)) found = member;
    }
  }
  searchingNet = false;
  return found;
}

// ---------------------------------------------------------------- group

TGUIGroup::TGUIGroup(TGUIObject* const* list, unsigned count) : TGUIObject(1, 0) {
  for (unsigned i = 0; i < count; ++i) {
    if (i < kMaxChildren) {
      children[childCount++] = list[i];
    } else {
      delete list[i];  // beyond the capacity: freed rather than lost
    }
  }
}

TGUIGroup::~TGUIGroup() {
  for (unsigned i = 0; i < childCount; ++i) delete children[i];
}

void TGUIGroup::StartFade(int state) {
  for (unsigned i = 0; i < childCount; ++i) children[i]->StartFade(state);
}

void TGUIGroup::Place(float s, int dx, int dy) {
  for (unsigned i = 0; i < childCount; ++i) children[i]->Place(s, dx, dy);
}

bool TGUIGroup::HitTest(int x, int y) {
  for (unsigned i = 0; i < childCount; ++i)
    if (children[i]->HitTest(x, y)) return true;
  return false;
}

bool TGUIGroup::Click(int x, int y) {
  const bool hit = ClickTest(x, y);
  for (unsigned i = 0; i < childCount; ++i) {
    TGUIObject* child = children[i];
    const int saved = child->mode;
    if (hit) child->mode = 2;
    child->Click(x, y);
    child->mode = saved;
  }
  return hit;
}

void TGUIGroup::MouseMove(int x, int y) {
  if (mode != 1 || childCount == 0) return;
  const bool hit = HitTest(x, y);
  const int state = children[0]->fadeState;
  if (hit && state == kFadeIdle) {
    StartFade(kFadeEntered);
  } else if (!hit && state == kFadeEntered) {
    StartFade(kFadeRampB);
  } else if (!hit && state == kFadeLit) {
    StartFade(kFadeOutPending);
  }
}

void TGUIGroup::SetCallback(void* user, TGUIEventCallback callback) {
  if (childCount > 0) children[0]->SetCallback(user, callback);
}

void TGUIGroup::SetHighlightColour(TColor colour) {
  TGUIObject::SetHighlightColour(colour);
  for (unsigned i = 0; i < childCount; ++i) children[i]->SetHighlightColour(colour);
}

void TGUIGroup::SetOnColour(TColor colour) {
  TGUIObject::SetOnColour(colour);
  for (unsigned i = 0; i < childCount; ++i) children[i]->SetOnColour(colour);
}

void TGUIGroup::AfterLoad() {
  TGUIObject::AfterLoad();
  for (unsigned i = 0; i < childCount; ++i) children[i]->AfterLoad();
}

void TGUIGroup::Transform(float a, float b, float c, float d, float e, float f) {
  for (unsigned i = 0; i < childCount; ++i) children[i]->Transform(a, b, c, d, e, f);
}

void TGUIGroup::Translate(float dx, float dy) {
  for (unsigned i = 0; i < childCount; ++i) children[i]->Translate(dx, dy);
}

void TGUIGroup::Scale(float, float) {}

void TGUIGroup::SetState(bool value) {
  TGUIObject::SetState(value);
  for (unsigned i = 0; i < childCount; ++i) children[i]->SetState(value);
}

void TGUIGroup::SetEnabled(bool flag) {
  TGUIObject::SetEnabled(flag);
  for (unsigned i = 0; i < childCount; ++i) children[i]->SetEnabled(flag);
}

void TGUIGroup::Draw(TCanvas* target) {
  canvas = target;
  for (unsigned i = 0; i < childCount; ++i) children[i]->Paint(target);
}
