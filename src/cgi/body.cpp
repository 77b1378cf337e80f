#include "cgi/body.h"

#include "platform/platform.h"
#include "support/decimal.h"

request_body body_announced() {
  // As the C runtime reads it; negative or no digits is 0, beyond kDrainMax kDrainMax.
  int64_t length = decimal_prefix(env_get("CONTENT_LENGTH"), 0, kDrainMax);
  return request_body{static_cast<uint64_t>(length), 0, false};
}

size_t body_read(request_body* body, char* dst, size_t len) {
  uint64_t left = body->announced - body->consumed;
  if (len > left) len = static_cast<size_t>(left);
  size_t got = len == 0 ? 0 : stdin_read(dst, len, kDrainMillis);
  body->consumed += got;
  if (got < len) body->stalled = true;
  return got;
}

void body_drain(request_body* body) {
  if (body->consumed >= body->announced || body->stalled) return;
  body->consumed += stdin_discard(body->announced - body->consumed, kDrainMillis);
}
