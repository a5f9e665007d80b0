# The transaction drivers through the real front end: the whole engine.
# Its files repeat names in their anonymous namespaces: compiled one by one.
set(AREA_UNITY OFF)
