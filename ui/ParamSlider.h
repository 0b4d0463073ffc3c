#pragma once
// The parameter slider that fills one of the four encoder positions along the bottom of the home and chain
// screens, and the colour rule of a parameter's value bar. Objects are built for one redraw (immediate
// mode); UI thread only.
#include "ui/gfx/Gfx.h"

class Node;
class NodeEnum;

// Left edges of the positions of encoders 2, 3, 4 and 5; each position is 78 pixels wide.
constexpr int kParamSliderX[4] = {0, 78, 156, 234};

// With a node: a value bar (floats, options and slot selectors), the value text below it (options and slot
// selectors) and the display name above it, dimmed to half brightness when the node's block or sub-folder
// is switched off. Without a node: fixed labels over an empty bar when both texts are given, else nothing.
// colour is 0xRRGGBB.
void create_param_slider(lv_obj_t* parent, int x, Node* node, int colour, const char* upper, const char* lower);

// The colour of a parameter's value bar: its folder's style colour (white without one), at half brightness
// when that folder is switched off.
int get_param_color(Node* node);

// The folder's on/off switch: its first child when that child is named "on_off" and is an option node;
// null otherwise (also for a null folder).
NodeEnum* folder_on_off(Node* folder);
