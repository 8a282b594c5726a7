#include "desktop/tray_icon.h"

#include <cstdio>

#include "base/gbk.h"

namespace djkivo {

TTrayIcon::TTrayIcon(NotificationArea& area, TrayHost& host, TrayMenu* menu)
    : area_(area), host_(host), menu_(menu), main_(MainThread::Current()) {}

TTrayIcon::~TTrayIcon() {
  StopWatchingArea();
  HideIcon();
  cycle_icons_ = false;
  UpdateCycleTimer();
}

void TTrayIcon::Loaded() {
  if (start_minimized_ && !HideToArea())
    host_.ShowMinimized();
  ModifyIcon();
  if (icon_visible_)
    ShowIcon();
  else
    HideIcon();
}

void TTrayIcon::SetIconList(std::optional<std::vector<TIcon>> list) {
  icon_list_ = std::move(list);
  SetIconIndex(0);
}

void TTrayIcon::SetCycleIcons(bool on) {
  cycle_icons_ = on;
  if (on)
    SetIconIndex(0);
  UpdateCycleTimer();
}

void TTrayIcon::SetCycleInterval(unsigned milliseconds) {
  cycle_interval_ = milliseconds;
  UpdateCycleTimer();
}

void TTrayIcon::SetHint(std::string hint) {
  hint_ = std::move(hint);
  ModifyIcon();
}

void TTrayIcon::SetShowHint(bool show) {
  show_hint_ = show;
  ModifyIcon();
}

void TTrayIcon::SetIcon(TIcon icon) {
  icon_ = std::move(icon);
  ModifyIcon();
}

void TTrayIcon::SetIconVisible(bool visible) {
  if (visible)
    ShowIcon();
  else
    HideIcon();
}

void TTrayIcon::SetIconIndex(int index) {
  // An empty list has no image to show: the index stays 0 instead of pointing before it.
  if (icon_list_ && !icon_list_->empty()) {
    int last = static_cast<int>(icon_list_->size()) - 1;
    icon_index_ = index > last ? last : (index < 0 ? 0 : index);
    icon_ = (*icon_list_)[icon_index_];
  } else {
    icon_index_ = 0;
  }
  ModifyIcon();
}

void TTrayIcon::ShowIcon() {
  icon_visible_ = true;
  area_.Add(icon_, Tooltip());
}

void TTrayIcon::HideIcon() {
  icon_visible_ = false;
  area_.Delete();
}

void TTrayIcon::ModifyIcon() { area_.Modify(icon_, Tooltip()); }

std::string TTrayIcon::Tooltip() const {
  if (hint_.empty() || !show_hint_)
    return {};
  return hint_.substr(0, GbkPrefixLength(hint_, kMaxTooltipBytes));
}

void TTrayIcon::PopupAtCursor() {
  if (menu_ == nullptr || !menu_->AutoPopup())
    return;
  std::optional<ScreenPoint> at = area_.CursorPos();
  if (!at)
    return;
  host_.ProcessMessages();
  menu_->Popup(*at);
}

void TTrayIcon::HandleMouse(TrayMouseAction action) {
  if (!enabled_)
    return;
  TShiftState shift = area_.KeyboardState();
  ScreenPoint at = area_.CursorPos().value_or(ScreenPoint{});
  auto down = [&](TMouseButton button, TShiftState flag) {
    if (OnMouseDown)
      OnMouseDown(button, shift | flag, at.x, at.y);
  };
  auto up = [&](TMouseButton button, TShiftState flag) {
    if (OnMouseUp)
      OnMouseUp(button, shift | flag, at.x, at.y);
  };
  switch (action) {
    case TrayMouseAction::Move:
      if (OnMouseMove)
        OnMouseMove(shift, at.x, at.y);
      break;
    case TrayMouseAction::LeftDown:
      down(TMouseButton::mbLeft, ssLeft);
      click_pending_ = true;
      if (left_popup_)
        PopupAtCursor();
      break;
    case TrayMouseAction::LeftUp:
      if (click_pending_) {
        click_pending_ = false;
        if (OnClick)
          OnClick();
      }
      up(TMouseButton::mbLeft, ssLeft);
      break;
    case TrayMouseAction::LeftDoubleClick:
      if (OnDblClick)
        OnDblClick();
      if (menu_ != nullptr && menu_->AutoPopup() && !left_popup_)
        menu_->ClickDefaultItem();
      break;
    case TrayMouseAction::RightDown:
      down(TMouseButton::mbRight, ssRight);
      PopupAtCursor();
      break;
    case TrayMouseAction::RightUp:
      up(TMouseButton::mbRight, ssRight);
      break;
    case TrayMouseAction::MiddleDown:
      down(TMouseButton::mbMiddle, ssMiddle);
      break;
    case TrayMouseAction::MiddleUp:
      up(TMouseButton::mbMiddle, ssMiddle);
      break;
  }
}

void TTrayIcon::HandleAreaRestarted() {
  if (icon_visible_)
    ShowIcon();
}

void TTrayIcon::HandleAreaGone() {
  if (!hidden_in_area_)
    return;
  StopWatchingArea();
  std::fprintf(stderr,
               "djkivo: the notification area went away; "
               "the window is back in the taskbar, minimised\n");
  // Minimising finds no area now either: this message has said why already.
  warned_no_area_ = true;
  host_.ShowMinimized();
}

void TTrayIcon::HandleApplicationMinimized() {
  if (minimize_to_tray_ && HideToArea())
    SetIconVisible(true);
}

void TTrayIcon::HandleFormShown() {
  StopWatchingArea();
  host_.RestoreApplication();
}

bool TTrayIcon::HideToArea() {
  if (!area_.IsAvailable()) {
    // Hiding the window with no icon to bring it back would lose it for good.
    if (!warned_no_area_) {
      std::fprintf(stderr,
                   "djkivo: the desktop has no notification area; "
                   "the window stays minimised in the taskbar\n");
      warned_no_area_ = true;
    }
    return false;
  }
  if (host_.HasMainForm()) {
    host_.HideMainForm();
    host_.HideApplication();
    if (!hidden_in_area_) {
      hidden_in_area_ = true;
      area_.WatchAvailability(true);
    }
  }
  return true;
}

void TTrayIcon::StopWatchingArea() {
  if (!hidden_in_area_)
    return;
  hidden_in_area_ = false;
  area_.WatchAvailability(false);
}

void TTrayIcon::UpdateCycleTimer() {
  bool should_run = cycle_icons_ && cycle_interval_ > 0 && main_ != nullptr;
  if (cycle_timer_ != 0) {
    main_->StopTimer(cycle_timer_);
    cycle_timer_ = 0;
  }
  if (should_run)
    cycle_timer_ =
        main_->StartTimer(std::chrono::milliseconds(cycle_interval_), [this] { CycleTick(); });
}

void TTrayIcon::CycleTick() {
  if (!icon_list_ || icon_list_->empty())
    return;
  int count = static_cast<int>(icon_list_->size());
  icon_ = (*icon_list_)[icon_index_];
  int next = icon_index_ < count - 1 ? icon_index_ + 1 : 0;
  if (OnCycle)
    OnCycle(next);
  ModifyIcon();
  icon_index_ = next;
}

}  // namespace djkivo
