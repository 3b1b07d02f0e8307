// A power cut: the supply goes away wherever the camera is; nothing after it runs.
#pragma once

namespace sim {

// Thrown at the platform call or bus operation where the power went away; the runner catches it above entry.
struct PowerCut {};

}  // namespace sim
