// A picture file as GEGL loads it, for the tests that read what GEGL or GIMP
// wrote: its buffer in the file's own format and space, or null.
#pragma once

#include <gegl.h>

#include <string>

inline GeglBuffer* gegl_file(const std::string& path)
{
    GeglNode* root = gegl_node_new();
    GeglBuffer* buffer = nullptr;
    GeglNode* load = gegl_node_new_child(root, "operation", "gegl:load", "path", path.c_str(), nullptr);
    GeglNode* sink = gegl_node_new_child(root, "operation", "gegl:buffer-sink", "buffer", &buffer, nullptr);
    gegl_node_link(load, sink);
    gegl_node_process(sink);
    g_object_unref(root);
    return buffer;
}

// A buffer written as a PNG of `bits` (8 or 16) bits a sample, as GEGL writes it.
inline void gegl_save_png(GeglBuffer* buffer, const std::string& path, int bits)
{
    GeglNode* root = gegl_node_new();
    GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", buffer, nullptr);
    GeglNode* save = gegl_node_new_child(root, "operation", "gegl:png-save", "path", path.c_str(), "bitdepth", bits, nullptr);
    gegl_node_link(source, save);
    gegl_node_process(save);
    g_object_unref(root);
}
