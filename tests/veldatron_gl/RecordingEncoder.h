#pragma once

// An encoder that keeps its commands as text, for tests of what a frame draws:
//
//   RecordingEncoder encoder;
//   encoder.names[atlas.get()] = "gray";
//   ...
//   EXPECT_EQ(encoder.commands, (std::vector<std::string>{"pipeline cellColor", ...}));

#include "IEncoder.h"

#include <map>
#include <string>
#include <vector>

namespace veldatron::testing {

class RecordingEncoder : public IEncoder {
public:
    std::vector<std::string> commands;
    /// Names for textures and buffers in the commands; unnamed ones are "?".
    std::map<const void*, std::string> names;

    static const char* pipelineName(PipelineKind kind)
    {
        switch (kind) {
        case PipelineKind::text:
            return "text";
        case PipelineKind::textGray:
            return "textGray";
        case PipelineKind::cellText:
            return "cellText";
        case PipelineKind::cellTextGray:
            return "cellTextGray";
        case PipelineKind::color:
            return "color";
        case PipelineKind::cellColor:
            break;
        }
        return "cellColor";
    }

    void setPipeline(PipelineKind kind) override
    {
        commands.push_back(std::string("pipeline ") + pipelineName(kind));
    }
    void setVertexBuffer(const GpuBuffer& buffer) override
    {
        commands.push_back("buffer " + name(&buffer));
    }
    void setViewport(Float2 viewport) override
    {
        commands.push_back("viewport " + std::to_string(int(viewport.x)) + "x"
                           + std::to_string(int(viewport.y)));
    }
    void setTexture(const GpuTexture& texture) override
    {
        commands.push_back("texture " + name(&texture));
    }
    void setSampler() override { commands.push_back("sampler"); }
    void drawTriangles(int vertexCount) override
    {
        commands.push_back("draw " + std::to_string(vertexCount));
    }

    /// Only the pipeline changes and draws, for tests of layer order.
    std::vector<std::string> pipelinesAndDraws() const
    {
        std::vector<std::string> out;
        for (const std::string& command : commands) {
            if (command.rfind("pipeline ", 0) == 0 || command.rfind("draw ", 0) == 0)
                out.push_back(command);
        }
        return out;
    }

private:
    std::string name(const void* object) const
    {
        auto found = names.find(object);
        return found == names.end() ? "?" : found->second;
    }
};

} // namespace veldatron::testing
