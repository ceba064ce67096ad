// Keeps each static library non-empty whatever subsystems a checkout holds.
namespace sheafline::detail { int libAnchor() { return 0; } }
