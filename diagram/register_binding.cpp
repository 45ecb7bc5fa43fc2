#include "diagram/register_binding.h"

#include "link/usbi2c.h"

uint8_t* RegisterWindowImage(const TI2CObject& window,
                             const std::function<uint8_t*(unsigned, unsigned, unsigned, unsigned)>& image) {
  const int first = window.GetFirstRegister();
  const int count = window.GetCount();
  if (window.GetDevice() < 0 || window.GetPage() < 0 || first < 0 || count < 1 || count > 128 - first)
    return nullptr;  // (a sum of first and count could overflow)
  const unsigned device = unsigned(window.GetDevice()), page = unsigned(window.GetPage());
  uint8_t* start = image(device, 0, page, unsigned(first));
  uint8_t* last = image(device, 0, page, unsigned(first + count - 1));
  if (!start || !last || last != start + (count - 1)) return nullptr;
  return start;
}

uint8_t* RegisterWindowImage(const TI2CObject& window, TUSBI2C& link) {
  return RegisterWindowImage(window, [&link](unsigned address, unsigned book, unsigned page, unsigned reg) {
    return link.GetRegisterImage(address, book, page, reg);
  });
}
