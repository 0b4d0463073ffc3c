#pragma once

// How much of a node an entry describes: 0 the value only, 1 the value and the style properties, 2 the full
// description (type, display name, value, style and the type's own members). "read" uses 1, "browse" 2.
enum DescriptionLevel : int {
    DESC_VALUE = 0,
    DESC_STYLE = 1,
    DESC_FULL = 2,
};
