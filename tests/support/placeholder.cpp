// Keeps the support library non-empty before any helper exists.
namespace morvtest { int placeholder_anchor = 0; }
