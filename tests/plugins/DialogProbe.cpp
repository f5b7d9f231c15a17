// DialogProbe.8bf: the cell filter with a definition that uses every part of
// the parameters dialog the product leaves hidden: more sliders (one without
// a label, one whose minimum lies above its maximum, one of negative values),
// both check boxes, two live custom colours and a help target.
#include <cstring>

#include "runtime/definition.h"
#include "runtime/kernel.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);

namespace {

void set_control(int index, const char* label, int32_t visible, int32_t lo, int32_t hi)
{
    ControlDef& c = filter_definition.controls[index];
    std::memset(c.label, 0, sizeof c.label);
    std::strncpy(c.label, label, sizeof c.label - 1);
    c.visible = visible;
    c.min_value = lo;
    c.max_value = hi;
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = cellumbra_main;
    kernel_blocks[1] = nullptr;
    kernel_blocks[2] = nullptr;
    kernel_blocks[3] = nullptr;

    FilterDefinition& d = filter_definition;
    std::memset(d.title, 0, sizeof d.title);
    std::strcpy(d.title, "DialogProbe");
    set_control(2, "", 1, 0, 255);          // slider 3: named by the dialog
    set_control(3, "Upside:", 1, 50, 10);   // slider 4: the maximum wins
    set_control(4, "Below:", 1, -100, -10); // slider 5: negative only
    set_control(check_box_1_control, "Sharpen", 1, 0, 0);
    set_control(check_box_2_control, "", 1, 0, 0);
    d.colour_count = 2;
    std::memset(d.help_target, 0, sizeof d.help_target);
    std::strcpy(d.help_target, "probe-help.cmd");
}
