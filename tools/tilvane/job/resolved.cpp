#include "tools/tilvane/job/resolved.h"

#include "tools/tilvane/job/plan.h"

namespace tilvane_tool {

ResolvedValues ResolvedOf(const RenderPlan& plan) {
  const Scene& scene = plan.scene;
  ResolvedValues v;
  v.width = scene.width;
  v.height = scene.height;
  v.depth = scene.depth;
  v.rate = plan.timing.rate();
  v.timeStep = plan.timing.base.step();
  v.timeScale = plan.timing.base.scale();
  v.first = plan.jobs.first;
  v.last = plan.jobs.last;
  v.duration = plan.timing.duration;
  v.controls = scene.controls;
  return v;
}

}  // namespace tilvane_tool
