// The desktop application's window.
namespace korvane::shell {}
