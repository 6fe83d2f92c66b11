#include "TrainService/OnnxModel.h"

#include <onnx/checker.h>
#include <onnx/onnx_pb.h>

#include <cmath>
#include <map>
#include <stdexcept>

namespace trainsvc::onnxmodel
{

namespace
{

// torch's default of BatchNorm2d.
constexpr double kBnEpsilon = 1e-5;

struct Value
{
    std::string name;
    int channels = 0;
    int rows = 0;
    int cols = 0;
};

// Builds the graph from the network's named parameters; throws std::runtime_error when one is missing
// or of the wrong shape.
class GraphBuilder
{
public:
    GraphBuilder(onnx::GraphProto& graph, const std::vector<NamedTensor>& state) : m_graph(graph)
    {
        for (const NamedTensor& t : state)
            m_state[t.name] = &t;
    }

    Value Input(const std::string& name, int channels, int size)
    {
        AddValueInfo(m_graph.add_input(), name, {1, channels, size, size});
        return {name, channels, size, size};
    }

    void Output(const Value& v, const std::string& name, int channels)
    {
        if (v.channels != channels)
            throw std::runtime_error("the weights give " + std::to_string(v.channels) + " channels of " +
                                     name + ", the layout " + std::to_string(channels));
        AddNode("Identity", {v.name}, name);
        AddValueInfo(m_graph.add_output(), name, {1, v.channels, v.rows, v.cols});
    }

    // Convolution of the module at prefix, followed by the batch normalisation at bn (folded into
    // it) when bn is given, and by a ReLU when relu is set.
    Value Conv(const Value& in, const std::string& prefix, const std::string& bn, int stride, int dilation,
               bool relu)
    {
        const NamedTensor& w = Param(prefix + ".weight");
        if (w.shape.size() != 4 || w.shape[1] != in.channels || w.shape[2] != w.shape[3])
            throw std::runtime_error(prefix + ".weight does not fit its input");
        const int out = int(w.shape[0]), kernel = int(w.shape[2]);
        const size_t per = w.values.size() / size_t(out);
        std::vector<float> weights = w.values;
        std::vector<float> bias(size_t(out), 0.0f);
        const auto found = m_state.find(prefix + ".bias");
        if (found != m_state.end())
            bias = Sized(*found->second, out).values;
        if (!bn.empty())
        {
            const NamedTensor& gamma = Sized(Param(bn + ".weight"), out);
            const NamedTensor& beta = Sized(Param(bn + ".bias"), out);
            const NamedTensor& mean = Sized(Param(bn + ".running_mean"), out);
            const NamedTensor& var = Sized(Param(bn + ".running_var"), out);
            for (size_t o = 0; o < size_t(out); ++o)
            {
                const double s = double(gamma.values[o]) / std::sqrt(double(var.values[o]) + kBnEpsilon);
                for (size_t i = o * per; i < (o + 1) * per; ++i)
                    weights[i] = float(double(weights[i]) * s);
                bias[o] = float(double(beta.values[o]) + (double(bias[o]) - double(mean.values[o])) * s);
            }
        }
        const std::string wName = Initializer(prefix + ".weight", w.shape, weights);
        const std::string bName = Initializer(prefix + ".bias", {out}, bias);
        const int pad = dilation * (kernel / 2);
        Value v{Name(prefix + ".conv"), out, Side(in.rows, kernel, stride, dilation, pad),
                Side(in.cols, kernel, stride, dilation, pad)};
        onnx::NodeProto* node = AddNode("Conv", {in.name, wName, bName}, v.name);
        Ints(node, "kernel_shape", {kernel, kernel});
        Ints(node, "strides", {stride, stride});
        Ints(node, "dilations", {dilation, dilation});
        Ints(node, "pads", {pad, pad, pad, pad});
        if (relu)
            v.name = Unary("Relu", v.name, prefix + ".relu");
        return v;
    }

    Value ConvBn(const Value& in, const std::string& prefix, int stride = 1, int dilation = 1)
    {
        return Conv(in, prefix + ".0", prefix + ".1", stride, dilation, true);
    }

    // Two 3 × 3 blocks, the first with the stride, the second with the dilation (see NetBlocks.h).
    Value Stage(const Value& in, const std::string& prefix, int stride, int dilation = 1)
    {
        const Value first = Conv(in, prefix + ".0", prefix + ".1", stride, 1, true);
        return Conv(first, prefix + ".3", prefix + ".4", 1, dilation, true);
    }

    Value Concat(const std::vector<Value>& parts, const std::string& name)
    {
        Value v{Name(name), 0, parts.front().rows, parts.front().cols};
        std::vector<std::string> inputs;
        for (const Value& p : parts)
        {
            if (p.rows != v.rows || p.cols != v.cols)
                throw std::runtime_error("joined maps of different sizes at " + name);
            inputs.push_back(p.name);
            v.channels += p.channels;
        }
        onnx::NodeProto* node = AddNode("Concat", inputs, v.name);
        onnx::AttributeProto* axis = node->add_attribute();
        axis->set_name("axis");
        axis->set_type(onnx::AttributeProto::INT);
        axis->set_i(1);
        return v;
    }

    // Nearest-neighbour (torch's "nearest": source = floor(target × in / out)) or bilinear (half-pixel
    // centres, torch's align_corners = false) resizing to rows × cols.
    Value Resize(const Value& in, int rows, int cols, bool linear, const std::string& name)
    {
        const std::string sizes = Name(name + ".sizes");
        onnx::TensorProto* t = m_graph.add_initializer();
        t->set_name(sizes);
        t->set_data_type(onnx::TensorProto::INT64);
        t->add_dims(4);
        for (const int64_t s : {int64_t(1), int64_t(in.channels), int64_t(rows), int64_t(cols)})
            t->add_int64_data(s);
        Value v{Name(name), in.channels, rows, cols};
        onnx::NodeProto* node = AddNode("Resize", {in.name, "", "", sizes}, v.name);
        Str(node, "mode", linear ? "linear" : "nearest");
        Str(node, "coordinate_transformation_mode", linear ? "half_pixel" : "asymmetric");
        if (!linear)
            Str(node, "nearest_mode", "floor");
        return v;
    }

    Value GlobalAveragePool(const Value& in, const std::string& name)
    {
        return {Unary("GlobalAveragePool", in.name, name), in.channels, 1, 1};
    }

private:
    static int Side(int n, int kernel, int stride, int dilation, int pad)
    {
        return (n + 2 * pad - dilation * (kernel - 1) - 1) / stride + 1;
    }

    static void AddValueInfo(onnx::ValueInfoProto* info, const std::string& name,
                             const std::vector<int>& dims)
    {
        info->set_name(name);
        onnx::TypeProto_Tensor* tensor = info->mutable_type()->mutable_tensor_type();
        tensor->set_elem_type(onnx::TensorProto::FLOAT);
        for (const int d : dims)
            tensor->mutable_shape()->add_dim()->set_dim_value(d);
    }

    static void Ints(onnx::NodeProto* node, const char* name, const std::vector<int>& values)
    {
        onnx::AttributeProto* a = node->add_attribute();
        a->set_name(name);
        a->set_type(onnx::AttributeProto::INTS);
        for (const int v : values)
            a->add_ints(v);
    }

    static void Str(onnx::NodeProto* node, const char* name, const char* value)
    {
        onnx::AttributeProto* a = node->add_attribute();
        a->set_name(name);
        a->set_type(onnx::AttributeProto::STRING);
        a->set_s(value);
    }

    const NamedTensor& Param(const std::string& name) const
    {
        const auto found = m_state.find(name);
        if (found == m_state.end())
            throw std::runtime_error("the weights lack " + name);
        return *found->second;
    }

    static const NamedTensor& Sized(const NamedTensor& t, int n)
    {
        if (t.values.size() != size_t(n))
            throw std::runtime_error(t.name + " has the wrong size");
        return t;
    }

    // A unique value name: a module can be used by more than one node.
    std::string Name(const std::string& base)
    {
        const int n = m_used[base]++;
        return n == 0 ? base : base + "_" + std::to_string(n);
    }

    std::string Initializer(const std::string& base, const std::vector<int64_t>& dims,
                            const std::vector<float>& values)
    {
        onnx::TensorProto* t = m_graph.add_initializer();
        t->set_name(Name(base));
        t->set_data_type(onnx::TensorProto::FLOAT);
        for (const int64_t d : dims)
            t->add_dims(d);
        t->set_raw_data(
            std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float)));
        return t->name();
    }

    onnx::NodeProto* AddNode(const char* op, const std::vector<std::string>& inputs,
                             const std::string& output)
    {
        onnx::NodeProto* node = m_graph.add_node();
        node->set_op_type(op);
        node->set_name(output);
        for (const std::string& i : inputs)
            node->add_input(i);
        node->add_output(output);
        return node;
    }

    std::string Unary(const char* op, const std::string& in, const std::string& base)
    {
        const std::string out = Name(base);
        AddNode(op, {in}, out);
        return out;
    }

    onnx::GraphProto& m_graph;
    std::map<std::string, const NamedTensor*> m_state;
    std::map<std::string, int> m_used;
};

// SegNetImpl::forward, node by node.
void SegGraph(GraphBuilder& b, const NetLayout& layout)
{
    const Value x = b.Input("image", 3, layout.inputSize);
    const Value half = b.Stage(x, "stem", 2);
    const Value quarter = b.Stage(half, "enc1", 2);
    const Value deep = b.Stage(b.Stage(quarter, "enc2", 2), "enc3", 2);
    Value pooled = b.Conv(b.GlobalAveragePool(deep, "asppPool.0"), "asppPool.1", "", 1, 1, true);
    // A 1 × 1 map resized by nearest neighbours is the expansion of the pooled values.
    pooled = b.Resize(pooled, deep.rows, deep.cols, false, "asppPool.expand");
    Value y = b.ConvBn(b.Concat({b.ConvBn(deep, "aspp1"), b.ConvBn(deep, "aspp2", 1, 2),
                                 b.ConvBn(deep, "aspp3", 1, 4), pooled},
                                "aspp.cat"),
                       "asppJoin");
    y = b.Stage(
        b.Concat({b.Resize(y, quarter.rows, quarter.cols, false, "dec1.up"), b.ConvBn(quarter, "low")},
                 "dec1.cat"),
        "dec1", 1);
    y = b.ConvBn(b.Concat({b.Resize(y, half.rows, half.cols, false, "dec2.up"), half}, "dec2.cat"), "dec2");
    const Value logits = b.Resize(b.Conv(y, "head", "", 1, 1, false), x.rows, x.cols, true, "head.up");
    b.Output(logits, "logits", layout.numClasses + 1);
}

// DetNetImpl::forward, node by node.
void DetGraph(GraphBuilder& b, const NetLayout& layout)
{
    const Value x = b.Input("image", 3, layout.inputSize);
    const Value quarter = b.Stage(b.Stage(x, "stem", 2), "enc1", 2);
    const Value eighth = b.Stage(quarter, "enc2", 2);
    const Value deep = b.Stage(eighth, "enc3", 2, 2);
    Value y = b.ConvBn(
        b.Concat({b.Resize(deep, eighth.rows, eighth.cols, false, "up2.up"), b.ConvBn(eighth, "lat2")},
                 "up2.cat"),
        "up2");
    y = b.ConvBn(
        b.Concat({b.Resize(y, quarter.rows, quarter.cols, false, "up1.up"), b.ConvBn(quarter, "lat1")},
                 "up1.cat"),
        "up1");
    y = b.ConvBn(y, "trunk");
    b.Output(b.Conv(y, "heat", "", 1, 1, false), "heatmap", layout.numClasses);
    b.Output(b.Conv(y, "size", "", 1, 1, false), "size", 2);
    b.Output(b.Conv(y, "offset", "", 1, 1, false), "offset", 2);
}

} // namespace

bool Build(const NetLayout& layout, const std::vector<NamedTensor>& state, const Metadata& metadata,
           std::string& bytes, std::string& error)
{
    onnx::ModelProto model;
    model.set_ir_version(onnx::IR_VERSION);
    model.set_producer_name("Lumora");
    model.set_producer_version(LUMORA_VERSION);
    model.set_model_version(1);
    onnx::OperatorSetIdProto* opset = model.add_opset_import();
    opset->set_domain("");
    opset->set_version(kOpset);
    for (const auto& [key, value] : metadata)
    {
        onnx::StringStringEntryProto* entry = model.add_metadata_props();
        entry->set_key(key);
        entry->set_value(value);
    }
    onnx::GraphProto* graph = model.mutable_graph();
    graph->set_name(layout.detection ? "detector" : "segmenter");
    try
    {
        GraphBuilder builder(*graph, state);
        if (layout.detection)
            DetGraph(builder, layout);
        else
            SegGraph(builder, layout);
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
    if (!model.SerializeToString(&bytes))
    {
        error = "the model cannot be serialised";
        return false;
    }
    return true;
}

bool Check(const std::string& bytes, std::string& error)
{
    onnx::ModelProto model;
    if (!model.ParseFromString(bytes))
    {
        error = "not an ONNX model";
        return false;
    }
    try
    {
        onnx::checker::check_model(model);
        return true;
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
}

bool ReadMetadata(const std::string& bytes, Metadata& metadata, std::string& error)
{
    onnx::ModelProto model;
    if (!model.ParseFromString(bytes))
    {
        error = "not an ONNX model";
        return false;
    }
    metadata.clear();
    for (const onnx::StringStringEntryProto& entry : model.metadata_props())
        metadata.emplace_back(entry.key(), entry.value());
    return true;
}

} // namespace trainsvc::onnxmodel
