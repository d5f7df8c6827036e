// The host's services as Simulation answers them: each traced as a host line
// with what it was asked and what it answered. None is on the native call's
// quick path; a run that never calls them pays nothing for them.
#include <ostream>

#include "sim/host/simulation.h"

namespace sim {

namespace {

TraceValue ServiceInt(std::int64_t v) { return TraceValue::Int(v); }

}  // namespace

bool Simulation::RefusedOffScript(const char* function) {
  if (OnScriptFibre()) return false;
  RaiseFault(std::string(function) + " called outside the script fibre");
  return true;
}

void Simulation::WarnOnce(const std::string& text) {
  if (warned_.insert(text).second) world_.Note("host", "warning: " + text);
}

std::int32_t Simulation::HostGetGameVersion() {
  const InsideHostScope inside;
  RecordHost("getGameVersion", {ServiceInt(scenario_.services.gameVersion)});
  return scenario_.services.gameVersion;
}

GameVersionInfo Simulation::HostGetGameVersionInfo() {
  const InsideHostScope inside;
  RecordHost("getGameVersionInfo");
  // On the script fibre the refusal parks the script for good. Anywhere else
  // it would return, and a return would hand the caller a structure it reads
  // but nobody wrote (see GameVersionInfo): the process ends instead.
  RaiseFault(kGameVersionInfoRefusal);
  if (options_.traceStream != nullptr) options_.traceStream->flush();
  StopProcessWithoutReturning(Fault());
}

std::uint64_t* Simulation::HostGetGlobalPtr(std::int32_t id) {
  const InsideHostScope inside;
  RecordHost("getGlobalPtr", {ServiceInt(id)});
  if (id < 0) {
    RaiseFault("getGlobalPtr(" + std::to_string(id) + "): global ids are not negative");
    return nullptr;
  }
  return globals_.Slot(id);
}

std::uint8_t* Simulation::HostGetScriptHandleBaseAddress(std::int32_t handle) {
  const InsideHostScope inside;
  RecordHost("getScriptHandleBaseAddress", {ServiceInt(handle)});
  return nullptr;
}

std::int32_t Simulation::WorldGetAll(EntityKind kind, const char* function, std::int32_t* arr,
                                     std::int32_t arrSize) {
  const InsideHostScope inside;
  if (RefusedOffScript(function)) return 0;
  if (arr == nullptr && arrSize > 0) {
    RaiseFault(std::string(function) + " with a null array of " + std::to_string(arrSize));
    return 0;
  }
  const std::vector<std::int32_t>& listed =
      scenario_.services.entities[static_cast<std::size_t>(kind)];
  std::int32_t written = 0;
  if (kind == EntityKind::Ped) {
    // The player's ped first, as it is now (a character switch changes it).
    std::vector<std::int32_t> peds{world_.player.pedHandle};
    for (std::int32_t ped : listed) {
      if (ped != world_.player.pedHandle) peds.push_back(ped);
    }
    written = CopyHandles(peds, arr, arrSize);
  } else {
    written = CopyHandles(listed, arr, arrSize);
  }
  RecordHost(function, {ServiceInt(arrSize), ServiceInt(written)});
  return written;
}

std::int32_t Simulation::HostWorldGetAllVehicles(std::int32_t* arr, std::int32_t arrSize) {
  return WorldGetAll(EntityKind::Vehicle, "worldGetAllVehicles", arr, arrSize);
}

std::int32_t Simulation::HostWorldGetAllPeds(std::int32_t* arr, std::int32_t arrSize) {
  return WorldGetAll(EntityKind::Ped, "worldGetAllPeds", arr, arrSize);
}

std::int32_t Simulation::HostWorldGetAllObjects(std::int32_t* arr, std::int32_t arrSize) {
  return WorldGetAll(EntityKind::Object, "worldGetAllObjects", arr, arrSize);
}

std::int32_t Simulation::HostWorldGetAllPickups(std::int32_t* arr, std::int32_t arrSize) {
  return WorldGetAll(EntityKind::Pickup, "worldGetAllPickups", arr, arrSize);
}

std::int32_t Simulation::HostCreateTexture(const char* file) {
  const InsideHostScope inside;
  if (RefusedOffScript("createTexture")) return -1;
  if (file == nullptr) {
    RaiseFault("createTexture with a null file name");
    return -1;
  }
  const std::int32_t id = textures_.Create(file);
  RecordHost("createTexture", {TraceValue::Text(file), ServiceInt(id)});
  world_.Note("host", "texture " + std::to_string(id) + " created from " + file);
  return id;
}

// An unknown id or an instance out of range is ignored, as the real host
// ignores it, with a warning on the timeline the first time.
void Simulation::HostDrawTexture(std::int32_t id, std::int32_t index, std::int32_t level,
                                 std::int32_t time, float sizeX, float sizeY, float centerX,
                                 float centerY, float posX, float posY, float rotation,
                                 float screenHeightScaleFactor, float r, float g, float b,
                                 float a) {
  const InsideHostScope inside;
  if (RefusedOffScript("drawTexture")) return;
  RecordHost("drawTexture",
             {ServiceInt(id), ServiceInt(index), ServiceInt(level), ServiceInt(time)});
  if (textures_.Freed(id)) {
    return WarnOnce("drawTexture of texture " + std::to_string(id) +
                    ", which the script reload freed: ignored");
  }
  if (!textures_.Known(id)) {
    return WarnOnce("drawTexture of texture " + std::to_string(id) +
                    ", which createTexture never gave: ignored");
  }
  if (index < 0 || index >= kTextureInstances) {
    return WarnOnce("drawTexture of instance " + std::to_string(index) + " of texture " +
                    std::to_string(id) + ": instances are 0 to 63; ignored");
  }
  TextureInstance t;
  t.id = id;
  t.index = index;
  t.level = level;
  t.untilMs = world_.clock.nowMs + time;
  t.drawnFrame = world_.clock.frame;
  t.sizeX = sizeX;
  t.sizeY = sizeY;
  t.centerX = centerX;
  t.centerY = centerY;
  t.posX = posX;
  t.posY = posY;
  t.rotation = rotation;
  t.screenHeightScaleFactor = screenHeightScaleFactor;
  t.colour = ColourOfFractions(r, g, b, a);
  textures_.Draw(t);
  UpdateFrameServices();
}

void Simulation::HostPresentCallbackRegister(PresentCallback callback) {
  const InsideHostScope inside;
  RecordHost("presentCallbackRegister");
  if (const char* refusal = presentCallbacks_.Register(callback)) return RaiseFault(refusal);
  world_.Note("host", "present callback registered");
  UpdateFrameServices();
}

void Simulation::HostPresentCallbackUnregister(PresentCallback callback) {
  const InsideHostScope inside;
  RecordHost("presentCallbackUnregister");
  if (const char* refusal = presentCallbacks_.Unregister(callback)) return RaiseFault(refusal);
  world_.Note("host", "present callback unregistered");
  UpdateFrameServices();
}

bool Simulation::HostNativeCanExecuteInThisContext() {
  const bool answer = OnScriptFibre();
  const InsideHostScope inside;
  RecordHost("nativeCanExecuteInThisContext", {TraceValue::Bool(answer)});
  return answer;
}

bool Simulation::HostScriptsAreLaunchedUsingReloading() {
  const InsideHostScope inside;
  const bool answer = scriptsReloaded_;
  RecordHost("scriptsAreLaunchedUsingReloading", {TraceValue::Bool(answer)});
  return answer;
}

void Simulation::UpdateFrameServices() {
  frameServices_ =
      textures_.AnyShown() || (scenario_.services.presentCallbacks && presentCallbacks_.Any());
  if (frameServices_) afterScripts_ = true;
}

void Simulation::RunFrameServices() {
  if (textures_.AnyShown()) {
    const InsideHostScope inside;
    for (DrawItem& item : textures_.FrameItems(world_.clock.frame, world_.clock.nowMs)) {
      AddDrawItem(world_, std::move(item));
    }
  }
  if (scenario_.services.presentCallbacks) {
    // A copy: a callback may unregister itself. The swap chain is null: the
    // simulator has none, and a callback that uses it crashes here. What a
    // callback allocates is the plug-in's, outside the host's scope.
    std::vector<PresentCallback> callbacks;
    {
      const InsideHostScope inside;
      callbacks = presentCallbacks_.All();
    }
    for (PresentCallback callback : callbacks) {
      if (Faulted()) break;
      {
        const InsideHostScope inside;
        RecordHost("present");
      }
      callback(nullptr);
    }
  }
  UpdateFrameServices();
}

}  // namespace sim
