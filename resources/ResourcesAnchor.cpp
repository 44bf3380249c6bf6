// Keeps the resource library non-empty; the resources themselves are Qt's.
namespace chimewick { int resourcesAnchor = 0; }
