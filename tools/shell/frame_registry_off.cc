// The unwinder's registry of unwinding tables, turned off in the static shell
// linked at a fixed address (see CMakeLists.txt). The linker points the
// registry's two entry points here: the start files' filing of the tables
// then does nothing, and the unwinder finds each entry through the index of
// the tables that the linker wrote, as it does in any other executable.

extern "C" {

void zephro_frame_registry_off(const void* tables, void* object);
void* zephro_frame_deregistry_off(const void* tables);

void zephro_frame_registry_off(const void* /*tables*/, void* /*object*/) {}

void* zephro_frame_deregistry_off(const void* /*tables*/) { return nullptr; }

}  // extern "C"
